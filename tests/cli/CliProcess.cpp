// Spawning velmoupload-cli with redirected streams and waiting for it without fixed sleeps.
#include "CliProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "TestHome.h"
#include "WaitFor.h"

extern char** environ;

namespace clitest {

int CliProcess::s_nRuns = 0;

std::string CliBinary() {
    const char* pDir = getenv("VELMO_BIN_DIR");
    if (pDir && *pDir)
        return std::string(pDir) + "/velmoupload-cli";
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    std::string strSelf = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    return strSelf.substr(0, strSelf.rfind('/') + 1) + "velmoupload-cli";
}

CliProcess::CliProcess(const std::string& strScratch, const std::string& strWorkDir)
    : m_strScratch(strScratch), m_strWorkDir(strWorkDir) {}

CliProcess::~CliProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool CliProcess::Start(const std::vector<std::string>& vArgs, const std::string& strStdin) {
    const std::string strRun = m_strScratch + "/cli-run" + std::to_string(++s_nRuns);
    m_strIn = strRun + ".in";
    m_strOut = strRun + ".out";
    m_strErr = strRun + ".err";
    velmotest::WriteFile(m_strIn, strStdin);

    std::vector<std::string> vArgv = {CliBinary()};
    vArgv.insert(vArgv.end(), vArgs.begin(), vArgs.end());
    std::vector<char*> vPtrs;
    for (std::string& s : vArgv)
        vPtrs.push_back(&s[0]);
    vPtrs.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, m_strIn.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_strOut.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_strErr.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, m_strWorkDir.c_str());
    // its own process group: no terminal to ask a password on, and a test's signal reaches it
    // alone
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    int nRc = posix_spawn(&m_pid, vArgv[0].c_str(), &actions, &attr, vPtrs.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    if (nRc != 0) {
        m_pid = -1;
        return false;
    }
    return true;
}

void CliProcess::Signal(int nSignal) {
    if (m_pid > 0)
        kill(m_pid, nSignal);
}

CliResult CliProcess::Wait(std::chrono::milliseconds timeout) {
    CliResult result;
    int nStatus = 0;
    bool bEnded = velmotest::waitFor(
        [&] { return m_pid <= 0 || waitpid(m_pid, &nStatus, WNOHANG) == m_pid; }, timeout);
    if (!bEnded) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &nStatus, 0);
    } else if (m_pid > 0 && WIFEXITED(nStatus)) {
        result.nExitCode = WEXITSTATUS(nStatus);
    }
    m_pid = -1;
    result.strOut = velmotest::ReadFile(m_strOut);
    result.strErr = velmotest::ReadFile(m_strErr);
    return result;
}

CliResult RunCli(const std::string& strScratch, const std::string& strWorkDir,
                 const std::vector<std::string>& vArgs, const std::string& strStdin) {
    CliProcess process(strScratch, strWorkDir);
    if (!process.Start(vArgs, strStdin))
        return CliResult();
    return process.Wait();
}

std::vector<std::string> Lines(const std::string& strText) {
    std::vector<std::string> lines;
    std::istringstream in(strText);
    for (std::string strLine; std::getline(in, strLine);)
        lines.push_back(strLine);
    return lines;
}

}  // namespace clitest
