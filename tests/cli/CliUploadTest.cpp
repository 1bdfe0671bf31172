// The headless client end to end against the stand-in: exit statuses, final lines, the bytes
// the service stored, the remembered account, and an interrupted upload that resumes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <sstream>

#include "EngineFixture.h"

extern char** environ;

namespace clitest {
namespace {

struct CliResult {
    int nExitCode = -1;  // -1 when it was killed by a signal or did not end in time
    std::string strOut, strErr;
};

// velmoupload-cli (beside velmo-standin) in a session of its own, so it has no terminal to ask
// a password on and a test's signal reaches it alone; its streams go to files under strScratch.
class CliProcess {
public:
    CliProcess(const std::string& strScratch, const std::string& strWorkDir,
               std::vector<std::string> vArgs, const std::string& strStdin) {
        static int s_nRuns = 0;
        m_strRun = strScratch + "/cli-run" + std::to_string(++s_nRuns);
        velmotest::WriteFile(m_strRun + ".in", strStdin);
        const std::string strBin = velmotest::StandinBinary();
        vArgs.insert(vArgs.begin(), strBin.substr(0, strBin.rfind('/') + 1) + "velmoupload-cli");
        std::vector<char*> vPtrs;
        for (std::string& s : vArgs)
            vPtrs.push_back(&s[0]);
        vPtrs.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, (m_strRun + ".in").c_str(), O_RDONLY, 0);
        for (int fd : {1, 2})  // .out1 standard output, .out2 standard error
            posix_spawn_file_actions_addopen(&actions, fd,
                                             (m_strRun + ".out" + char('0' + fd)).c_str(),
                                             O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addchdir_np(&actions, strWorkDir.c_str());
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
        if (posix_spawn(&m_pid, vPtrs[0], &actions, &attr, vPtrs.data(), environ) != 0)
            m_pid = -1;
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~CliProcess() { Signal(SIGKILL), Wait(); }
    void Signal(int nSignal) {
        if (m_pid > 0)
            kill(m_pid, nSignal);
    }
    // Waits for the exit; kills it when the time runs out.
    CliResult Wait() {
        CliResult result;
        int nStatus = 0;
        if (m_pid <= 0)
            return result;
        if (!velmotest::waitFor([&] { return waitpid(m_pid, &nStatus, WNOHANG) == m_pid; },
                                std::chrono::seconds(60))) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, &nStatus, 0);
        } else if (WIFEXITED(nStatus)) {
            result.nExitCode = WEXITSTATUS(nStatus);
        }
        m_pid = -1;
        result.strOut = velmotest::ReadFile(m_strRun + ".out1");
        result.strErr = velmotest::ReadFile(m_strRun + ".out2");
        return result;
    }

private:
    pid_t m_pid = -1;
    std::string m_strRun;
};

bool HasLine(const std::string& strText, const std::string& strLine) {
    return ("\n" + strText).find("\n" + strLine + "\n") != std::string::npos;
}

class CliTest : public enginetest::EngineTest {
protected:
    // Runs in strDir (the work folder when empty) against this test's stand-in.
    CliResult Run(std::vector<std::string> vArgs, const std::string& strStdin = "",
                  const std::string& strDir = "") {
        vArgs.insert(vArgs.begin(), {"--server", StandinHost()});
        return CliProcess(m_strHome, strDir.empty() ? m_strWork : strDir, vArgs, strStdin).Wait();
    }
    CliResult RunAsAlice(std::vector<std::string> vArgs,
                         const std::string& strPassword = "wonderland") {
        vArgs.insert(vArgs.begin(), {"--user", "alice", "--password-stdin"});
        return Run(vArgs, strPassword + "\n");
    }
};

TEST_F(CliTest, EachFileAndFolderEndsInOneLineAndAFailureFailsOnlyItself) {
    MakeFile("a.bin", 1048576 + 1, 1);
    MakeFile("empty.bin", 0, 3);
    MakeFile("folder/top.bin", 1048576 + 3, 10);
    MakeFile("folder/sub/deep.bin", 700, 11);
    CliResult result = RunAsAlice({"--remember", "--jobs", "2", "a.bin", "empty.bin", "folder/"});
    EXPECT_EQ(1, result.nExitCode) << result.strOut << result.strErr;
    // the catalogue's text of 1000, from GBK
    for (const char* pszLine : {"OK a.bin", "FAILED empty.bin: 1000 空文件不能上传", "OK folder/"})
        EXPECT_TRUE(HasLine(result.strOut, pszLine)) << pszLine << "\n" << result.strOut;
    for (const char* pszName : {"a.bin", "folder/top.bin", "folder/sub/deep.bin"})
        ExpectStored(m_strWork + "/" + pszName);
    // the engine's own diagnostics never mix into the results
    std::istringstream out(result.strOut);
    for (std::string strLine; std::getline(out, strLine);)
        EXPECT_TRUE(std::regex_search(strLine, std::regex("^(OK|FAILED|progress:) "))) << strLine;
    // nothing left unfinished
    CliResult listed = Run({});
    EXPECT_EQ(0, listed.nExitCode);
    EXPECT_EQ("", listed.strOut);
}

TEST_F(CliTest, WrongPasswordFailsAndOnlyARememberedPasswordLogsInWithoutUser) {
    MakeFile("a.bin", 100, 6);
    MakeFile("b.bin", 100, 7);
    CliResult wrong = RunAsAlice({"a.bin"}, "not-the-password");
    EXPECT_EQ(1, wrong.nExitCode);
    EXPECT_NE(std::string::npos, wrong.strErr.find("帐号或密码错误")) << wrong.strErr;
    EXPECT_EQ("", wrong.strOut);
    EXPECT_TRUE(LogLines("dispatch").empty());

    // a login without --remember keeps the account but not its password hash
    ASSERT_EQ(0, RunAsAlice({"a.bin"}).nExitCode);
    CliResult noHash = Run({"b.bin"});
    EXPECT_EQ(2, noHash.nExitCode);
    EXPECT_NE(std::string::npos, noHash.strErr.find("--remember")) << noHash.strErr;

    ASSERT_EQ(0, RunAsAlice({"--remember", "--auto", "a.bin"}).nExitCode);
    CliResult again = Run({"b.bin"});
    EXPECT_EQ(0, again.nExitCode) << again.strOut << again.strErr;
    EXPECT_TRUE(HasLine(again.strOut, "OK b.bin")) << again.strOut;
    ExpectStored(m_strWork + "/b.bin");
}

TEST_F(CliTest, InterruptedUploadIsListedAndResumed) {
    const std::string strAbsolute = MakeFile("big.bin", 4 * 1048576 + 7, 8);
    // every piece waits a moment at the service, so the signal lands in the middle
    Fault("action=stall&on=piece&seconds=0.5&count=4");
    CliProcess upload(
        m_strHome, m_strWork,
        {"--server", StandinHost(), "--user", "alice", "--password-stdin", "--remember", "big.bin"},
        "wonderland\n");
    ASSERT_TRUE(WaitForLog("/2.0/bigupload", 1));
    upload.Signal(SIGINT);
    CliResult stopped = upload.Wait();
    EXPECT_EQ(130, stopped.nExitCode) << stopped.strOut << stopped.strErr;
    EXPECT_TRUE(HasLine(stopped.strOut, "STOPPED big.bin")) << stopped.strOut;

    // listed by its absolute path, whatever the folder the next run starts in
    CliResult listed = Run({}, "", m_strHome);
    EXPECT_EQ(0, listed.nExitCode) << listed.strErr;
    EXPECT_EQ(strAbsolute + "\n", listed.strOut);

    CliResult resumed = Run({"--resume"}, "", m_strHome);
    EXPECT_EQ(0, resumed.nExitCode) << resumed.strOut << resumed.strErr;
    EXPECT_TRUE(HasLine(resumed.strOut, "OK " + strAbsolute)) << resumed.strOut;
    // continued where the service stood ("... resume PICKCODE at OFFSET"), not sent again
    EXPECT_TRUE(std::regex_search(StandinLog(), std::regex(" resume \\S+ at [1-9]")))
        << StandinLog();
    ExpectStored(strAbsolute);
    EXPECT_EQ("", Run({}, "", m_strHome).strOut);
}

TEST_F(CliTest, BadUsageExitsTwoBeforeAnyLogin) {
    MakeFile("a.bin", 100, 9);
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus", "a.bin"},
        {"--jobs", "0", "a.bin"},
        {"--server", "host:99999", "a.bin"},
        {"--password", "secret", "a.bin"},
        {"--password-stdin", "a.bin"},  // no --user
        {"missing.bin"},
    };
    for (const std::vector<std::string>& vArgs : cases) {
        CliResult result = CliProcess(m_strHome, m_strWork, vArgs, "wonderland\n").Wait();
        const std::string strCase = vArgs.front() + " ... " + vArgs.back();
        EXPECT_EQ(2, result.nExitCode) << strCase;
        EXPECT_NE("", result.strErr) << strCase;
        EXPECT_EQ("", result.strOut) << strCase;
    }
    // no account to fall back on, and no terminal to ask a password on
    EXPECT_EQ(2, Run({"a.bin"}).nExitCode);
    CliResult noTerminal = Run({"--user", "alice", "a.bin"});
    EXPECT_EQ(2, noTerminal.nExitCode);
    EXPECT_NE(std::string::npos, noTerminal.strErr.find("--password-stdin"));
    EXPECT_TRUE(LogLines("/app/clogin").empty()) << StandinLog();
}

}  // namespace
}  // namespace clitest
