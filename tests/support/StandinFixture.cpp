// Starting, restarting and stopping velmo-standin for tests; its first output line gives the
// port, so every test gets a free one.
#include "StandinFixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "WaitFor.h"
#include "http/QvHttpClient.h"

extern char** environ;

namespace velmotest {

std::string StandinBinary() {
    const char* pDir = getenv("VELMO_BIN_DIR");
    if (pDir && *pDir)
        return std::string(pDir) + "/velmo-standin";
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    std::string strSelf = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    return strSelf.substr(0, strSelf.rfind('/') + 1) + "velmo-standin";
}

bool StandinProcess::Start(const std::string& strDataDir, const std::string& strLogPath,
                           const std::vector<std::string>& vArgs, std::string& strError) {
    if (Running()) {
        strError = "already running";
        return false;
    }
    std::vector<std::string> vArgv = {StandinBinary(), "--port", std::to_string(m_nPort), "--data",
                                      strDataDir};
    vArgv.insert(vArgv.end(), vArgs.begin(), vArgs.end());
    std::vector<char*> vPtrs;
    for (std::string& s : vArgv)
        vPtrs.push_back(&s[0]);
    vPtrs.push_back(nullptr);

    const size_t nLogStart = ReadFile(strLogPath).size();
    const int nLogFd = open(strLogPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (nLogFd < 0) {
        strError = "cannot open " + strLogPath + ": " + strerror(errno);
        return false;
    }
    const pid_t nParent = getpid();
    m_pid = fork();
    if (m_pid == 0) {
        // the stand-in goes with the test: a test that aborts must not leave it running
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != nParent)
            _exit(127);
        dup2(nLogFd, STDOUT_FILENO);
        dup2(nLogFd, STDERR_FILENO);
        execve(vArgv[0].c_str(), vPtrs.data(), environ);
        _exit(127);
    }
    const int nForkErrno = errno;
    close(nLogFd);
    if (m_pid < 0) {
        m_pid = -1;
        strError = "cannot start " + vArgv[0] + ": " + strerror(nForkErrno);
        return false;
    }

    // The first line it prints is "listening on http://ADDR:PORT".
    uint16_t nPort = 0;
    bool bExited = false;
    waitFor(
        [&] {
            int nStatus = 0;
            if (waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
                m_nExitStatus = nStatus;
                return bExited = true;
            }
            std::string strLog = ReadFile(strLogPath).substr(nLogStart);
            std::string::size_type nPos = strLog.find("listening on http://");
            std::string::size_type nEol = strLog.find('\n', nPos);
            if (nPos == std::string::npos || nEol == std::string::npos)
                return false;
            nPort = static_cast<uint16_t>(atoi(strLog.c_str() + strLog.rfind(':', nEol) + 1));
            return true;
        },
        std::chrono::seconds(20));
    if (bExited) {
        m_pid = -1;
        strError = "velmo-standin exited at start: " + ReadFile(strLogPath).substr(nLogStart);
        return false;
    }
    // the line comes once the port listens, so connections from now on are taken
    if (nPort == 0) {
        Stop(true);
        strError = "velmo-standin did not start listening";
        return false;
    }
    m_nPort = nPort;
    return true;
}

void StandinProcess::Stop(bool bCrash) {
    if (m_pid <= 0)
        return;
    kill(m_pid, bCrash ? SIGKILL : SIGTERM);
    int nStatus = 0;
    bool bGone = waitFor([&] { return waitpid(m_pid, &nStatus, WNOHANG) == m_pid; },
                         std::chrono::seconds(15));
    if (!bGone) {
        ADD_FAILURE() << "velmo-standin did not stop on SIGTERM";
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &nStatus, 0);
    }
    m_nExitStatus = nStatus;
    m_pid = -1;
}

void StandinFixture::SetUp() {
    TempHomeTest::SetUp();
    if (HasFatalFailure())
        return;
    m_strStandinData = m_strWork + "/standin-data";
    m_strStandinLog = m_strWork + "/standin.log";
    m_vArgs = StandinArgs();
    std::string strError;
    ASSERT_TRUE(m_standin.Start(m_strStandinData, m_strStandinLog, m_vArgs, strError)) << strError;
}

void StandinFixture::TearDown() {
    m_standin.Stop();
    TempHomeTest::TearDown();
}

void StandinFixture::RestartStandin(const std::vector<std::string>& vArgs, bool bCrash) {
    m_standin.Stop(bCrash);
    m_vArgs = vArgs;
    std::string strError;
    ASSERT_TRUE(m_standin.Start(m_strStandinData, m_strStandinLog, m_vArgs, strError)) << strError;
}

std::vector<std::string> StandinFixture::LogLines(const std::string& strText) const {
    std::vector<std::string> lines;
    std::istringstream in(StandinLog());
    for (std::string strLine; std::getline(in, strLine);)
        if (strLine.find(strText) != std::string::npos)
            lines.push_back(strLine);
    return lines;
}

bool StandinFixture::WaitForLog(const std::string& strText, size_t nCount,
                                std::chrono::milliseconds timeout) const {
    return waitFor([&] { return LogLines(strText).size() >= nCount; }, timeout);
}

void StandinFixture::Fault(const std::string& strParams) {
    std::string strResponse;
    ASSERT_TRUE(
        _VelmoUpload::QvHttpClient().Post(StandinUrl("/_standin/fault"), strParams, strResponse))
        << strParams << ": " << strResponse;
}

void StandinFixture::ClearFaults() {
    std::string strResponse;
    ASSERT_TRUE(
        _VelmoUpload::QvHttpClient().Post(StandinUrl("/_standin/reset"), "all=0", strResponse))
        << strResponse;
}

}  // namespace velmotest
