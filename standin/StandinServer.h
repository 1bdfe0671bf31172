// The HTTP side of the stand-in: binds, routes each request of the service interface to its
// handler, applies fault rules, logs one line per request, and never lets an error escape.
#pragma once

#include <memory>
#include <string>

#include "ServiceContext.h"
#include "StandinOptions.h"

namespace standin {

class GatedServer;
class RequestGate;
class WorkerPool;

class StandinServer {
public:
    explicit StandinServer(const Options& opts);
    ~StandinServer();
    StandinServer(const StandinServer&) = delete;
    StandinServer& operator=(const StandinServer&) = delete;

    // Opens the data folder and the records, sets up the accounts and binds the port; false
    // with a reason when any of it fails.
    bool Start(std::string& strError);
    // The address and the port actually bound, as "http://ADDR:PORT".
    std::string ListenUrl() const;
    int Port() const { return m_nPort; }
    // Serves on the calling thread until Stop().
    void Run();
    // Safe from any thread.
    void Stop();

private:
    void SetUpRoutes();
    void SetUpAccounts();

    ServiceContext m_ctx;
    std::unique_ptr<GatedServer> m_pServer;
    std::unique_ptr<WorkerPool> m_pWorkers;
    std::unique_ptr<RequestGate> m_pGate;
    int m_nPort = 0;
};

}  // namespace standin
