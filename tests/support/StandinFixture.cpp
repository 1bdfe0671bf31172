// Starting, restarting and stopping velmo-standin for tests; its first output line gives the
// port, so every test gets a free one.
#include "StandinFixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "WaitFor.h"
#include "http/QvHttpClient.h"

extern char** environ;

namespace velmotest {

namespace {

long long FileSize(const std::string& strPath) {
    struct stat st;
    return stat(strPath.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

bool Accepts(uint16_t nPort) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in addr;
    memset(&addr, 0, sizeof(addr));
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(nPort);
    bool bOk = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    close(fd);
    return bOk;
}

}  // namespace

std::string StandinBinary() {
    const char* pDir = getenv("VELMO_BIN_DIR");
    if (pDir && *pDir)
        return std::string(pDir) + "/velmo-standin";
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    std::string strSelf = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    return strSelf.substr(0, strSelf.rfind('/') + 1) + "velmo-standin";
}

StandinProcess::~StandinProcess() {
    Stop();
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

    long long nLogStart = FileSize(strLogPath);
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
    const std::string strMark = "listening on http://";
    uint16_t nPort = 0;
    bool bExited = false;
    waitFor(
        [&] {
            int nStatus = 0;
            if (waitpid(m_pid, &nStatus, WNOHANG) == m_pid) {
                bExited = true;
                m_nExitStatus = nStatus;
                return true;
            }
            std::string strLog = ReadFile(strLogPath).substr(static_cast<size_t>(nLogStart));
            std::string::size_type nPos = strLog.find(strMark);
            if (nPos == std::string::npos)
                return false;
            std::string::size_type nEol = strLog.find('\n', nPos);
            if (nEol == std::string::npos)
                return false;
            std::string strLine = strLog.substr(nPos, nEol - nPos);
            nPort = static_cast<uint16_t>(atoi(strLine.c_str() + strLine.rfind(':') + 1));
            return true;
        },
        std::chrono::seconds(20));
    if (bExited) {
        m_pid = -1;
        strError = "velmo-standin exited at start: " +
                   ReadFile(strLogPath).substr(static_cast<size_t>(nLogStart));
        return false;
    }
    if (nPort == 0 || !waitFor([&] { return Accepts(nPort); }, std::chrono::seconds(10))) {
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

void StandinFixture::RestartStandin(bool bCrash) {
    RestartStandin(m_vArgs, bCrash);
}

void StandinFixture::RestartStandin(const std::vector<std::string>& vArgs, bool bCrash) {
    m_standin.Stop(bCrash);
    m_vArgs = vArgs;
    std::string strError;
    ASSERT_TRUE(m_standin.Start(m_strStandinData, m_strStandinLog, m_vArgs, strError)) << strError;
}

std::string StandinFixture::StandinHost() const {
    return "127.0.0.1:" + std::to_string(StandinPort());
}

std::string StandinFixture::StandinUrl(const std::string& strPath) const {
    return "http://" + StandinHost() + strPath;
}

std::string StandinFixture::StandinLog() const {
    return ReadFile(m_strStandinLog);
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
    _VelmoUpload::QvHttpClient client;
    std::string strResponse;
    ASSERT_TRUE(client.Post(StandinUrl("/_standin/fault"), strParams, strResponse))
        << strParams << ": " << strResponse;
}

void StandinFixture::ClearFaults() {
    _VelmoUpload::QvHttpClient client;
    std::string strResponse;
    ASSERT_TRUE(client.Post(StandinUrl("/_standin/reset"), "all=0", strResponse)) << strResponse;
}

}  // namespace velmotest
