// velmoupload-cli as a child process for tests: started with arguments, a working folder and
// the text of its standard input; its two output streams land in files that can be read while
// it runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace clitest {

// $VELMO_BIN_DIR/velmoupload-cli, else the one beside the running test program.
std::string CliBinary();

struct CliResult {
    int nExitCode = -1;  // -1 when it was killed by a signal or did not end in time
    std::string strOut;
    std::string strErr;
};

class CliProcess {
public:
    // strScratch: a folder for the captured streams; the child inherits HOME from the test.
    CliProcess(const std::string& strScratch, const std::string& strWorkDir);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool Start(const std::vector<std::string>& vArgs, const std::string& strStdin);
    void Signal(int nSignal);
    // Waits for the exit; kills it when the time runs out.
    CliResult Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    std::string m_strScratch, m_strWorkDir;
    pid_t m_pid = -1;
    static int s_nRuns;
    std::string m_strIn, m_strOut, m_strErr;
};

// Start, wait, collect.
CliResult RunCli(const std::string& strScratch, const std::string& strWorkDir,
                 const std::vector<std::string>& vArgs, const std::string& strStdin = "");

// The lines of a text, without their newlines.
std::vector<std::string> Lines(const std::string& strText);

}  // namespace clitest
