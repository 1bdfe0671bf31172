// velmoupload-cli: the headless client. Logs in, uploads files with the desktop client's
// engine and reports each file's outcome, for servers, scripts and benchmarks.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "upload/CliOptions.h"
#include "upload/EngineEvents.h"
#include "upload/InputPaths.h"
#include "upload/LoginStep.h"
#include "upload/OutputStream.h"
#include "upload/SignalWatcher.h"
#include "upload/UploadRun.h"

using namespace velmocli;

namespace {

// Engine threads are detached and never joined; letting static destructors run under them
// could free what they still use, so the process ends without them once output is flushed.
[[noreturn]] void Finish(int nStatus) {
    fflush(nullptr);
    _exit(nStatus);
}

int UsageError(const std::string& strMessage) {
    fprintf(stderr, "velmoupload-cli: %s\n", strMessage.c_str());
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // before any thread exists, so that all of them leave the two signals to the watcher
    SignalWatcher::BlockSignals();

    CliOptions opts;
    std::string strError;
    if (!ParseCliOptions(argc, argv, opts, strError))
        return UsageError(strError);
    if (opts.bHelp) {
        fputs(CliUsageText().c_str(), stdout);
        return kExitOk;
    }
    for (const std::string& strPath : opts.paths) {
        bool bIsDir = false;
        if (!CheckInputPath(strPath, bIsDir, strError))
            return UsageError("cannot upload " + strPath + ": " + strError);
    }

    FILE* out = ClaimStdout();
    static EventQueue queue;
    static std::atomic<bool> bInterrupted{false};
    if (!SignalWatcher::Start([](int) {
            bInterrupted = true;
            CliEvent event;
            event.kind = CliEvent::Interrupt;
            queue.Push(event);
        })) {
        fprintf(stderr, "velmoupload-cli: cannot watch for Ctrl-C\n");
        return kExitFailed;
    }

    std::string strMessage;
    switch (LogIn(opts, queue, bInterrupted, strMessage)) {
        case LoginResult::LoggedIn:
            break;
        case LoginResult::Refused:
            fprintf(stderr, "velmoupload-cli: login failed: %s\n", strMessage.c_str());
            Finish(kExitFailed);
        case LoginResult::NoAccount:
        case LoginResult::BadInput:
            fprintf(stderr, "velmoupload-cli: %s\n", strMessage.c_str());
            Finish(kExitUsage);
        case LoginResult::Interrupted:
            fprintf(stderr, "velmoupload-cli: interrupted\n");
            Finish(kExitInterrupted);
    }
    Finish(RunUploads(opts, queue, bInterrupted, out));
}
