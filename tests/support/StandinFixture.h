// The stand-in service as a child process for tests: started on a free loopback port in a
// temporary data folder, restarted on the same port and data (cleanly or as a crash), stopped
// on tear-down. Engine end-to-end tests derive from StandinFixture as well.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "TestHome.h"

namespace velmotest {

// $VELMO_BIN_DIR/velmo-standin, else the velmo-standin beside the running test program.
std::string StandinBinary();

class StandinProcess {
public:
    StandinProcess() = default;
    ~StandinProcess() { Stop(); }
    StandinProcess(const StandinProcess&) = delete;
    StandinProcess& operator=(const StandinProcess&) = delete;

    // Starts it with --port (0 the first time, then the port it had) and --data, plus vArgs;
    // returns once it has printed its address and accepts connections. Its output goes to
    // strLogPath (appended).
    bool Start(const std::string& strDataDir, const std::string& strLogPath,
               const std::vector<std::string>& vArgs, std::string& strError);
    // SIGTERM and wait for the exit; bCrash: SIGKILL, as a power cut of the process.
    void Stop(bool bCrash = false);
    bool Running() const { return m_pid > 0; }
    uint16_t Port() const { return m_nPort; }
    // The exit status of the last stop (as waitpid gives it), -1 before one.
    int LastExitStatus() const { return m_nExitStatus; }

private:
    pid_t m_pid = -1;
    uint16_t m_nPort = 0;
    int m_nExitStatus = -1;
};

class StandinFixture : public TempHomeTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Options beyond --port and --data (users, policy); override to change them.
    virtual std::vector<std::string> StandinArgs() const { return {}; }
    // Stops it and starts it again on the same port with the same data folder, with the same
    // options or with vArgs.
    void RestartStandin(bool bCrash = false) { RestartStandin(m_vArgs, bCrash); }
    void RestartStandin(const std::vector<std::string>& vArgs, bool bCrash = false);

    uint16_t StandinPort() const { return m_standin.Port(); }
    // "127.0.0.1:PORT", the form of the client's API host.
    std::string StandinHost() const { return "127.0.0.1:" + std::to_string(StandinPort()); }
    // "http://127.0.0.1:PORT" followed by strPath.
    std::string StandinUrl(const std::string& strPath = std::string()) const {
        return "http://" + StandinHost() + strPath;
    }
    const std::string& StandinDataDir() const { return m_strStandinData; }
    // Everything it has printed so far, one line per request after the first.
    std::string StandinLog() const { return ReadFile(m_strStandinLog); }
    // Lines of that log that contain strText.
    std::vector<std::string> LogLines(const std::string& strText) const;
    bool WaitForLog(const std::string& strText, size_t nCount,
                    std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Makes the stand-in misbehave through its fault control, e.g. "action=drop&on=piece".
    void Fault(const std::string& strParams);
    // Drops every fault rule still pending.
    void ClearFaults();

    StandinProcess m_standin;

private:
    std::string m_strStandinData;
    std::string m_strStandinLog;
    std::vector<std::string> m_vArgs;
};

}  // namespace velmotest
