// velmo-standin: runs the stand-in service until SIGTERM or SIGINT.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "RequestLog.h"
#include "StandinOptions.h"
#include "StandinServer.h"
#include "utils/NamedThread.h"

int main(int argc, char** argv) {
    standin::Options opts;
    std::string strError;
    if (!standin::ParseOptions(argc, argv, opts, strError)) {
        fprintf(stderr, "velmo-standin: %s\n", strError.c_str());
        return 2;
    }
    if (opts.bHelp) {
        fputs(standin::UsageText().c_str(), stdout);
        return 0;
    }

    // Writes to a peer that has gone must fail, not end the process.
    signal(SIGPIPE, SIG_IGN);
    // Block the stop signals in every thread the server starts; one thread waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    standin::StandinServer server(opts);
    if (!server.Start(strError)) {
        fprintf(stderr, "velmo-standin: %s\n", strError.c_str());
        return 1;
    }
    // Test fixtures and scripts read the real port from this first line.
    standin::RequestLog::Note("listening on " + server.ListenUrl());

    std::atomic<bool> bRunEnded{false};
    std::thread signalThread =
        _VelmoUpload::StartNamedThread("standin-signals", [&server, &bRunEnded, stopSignals] {
            int nSignal = 0;
            sigwait(&stopSignals, &nSignal);
            // a stop that lands before the accept loop has begun is lost: repeat it until Run ends
            while (!bRunEnded) {
                server.Stop();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    server.Run();
    bRunEnded = true;
    server.Stop();
    // wake the signal thread when the server ended on its own
    pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
    standin::RequestLog::Note("stopped");
    return 0;
}
