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

using _VelmoUpload::Utils;

const char kWrongLogin[] = "帐号或密码错误";  // the stand-in's refusal
const char kEmptyFile[] = "空文件不能上传";   // catalogue text of 1000

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
        const std::string strRun = strScratch + "/cli-run" + std::to_string(++s_nRuns);
        m_strOut = strRun + ".out";
        m_strErr = strRun + ".err";
        velmotest::WriteFile(strRun + ".in", strStdin);
        const std::string strBin = velmotest::StandinBinary();
        vArgs.insert(vArgs.begin(), strBin.substr(0, strBin.rfind('/') + 1) + "velmoupload-cli");
        std::vector<char*> vPtrs;
        for (std::string& s : vArgs)
            vPtrs.push_back(&s[0]);
        vPtrs.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, (strRun + ".in").c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, m_strOut.c_str(), O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, m_strErr.c_str(), O_WRONLY | O_CREAT, 0600);
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
        result.strOut = velmotest::ReadFile(m_strOut);
        result.strErr = velmotest::ReadFile(m_strErr);
        return result;
    }

private:
    pid_t m_pid = -1;
    std::string m_strOut, m_strErr;
};

bool HasLine(const std::string& strText, const std::string& strLine) {
    return ("\n" + strText).find("\n" + strLine + "\n") != std::string::npos;
}

class CliTest : public enginetest::EngineTest {
protected:
    CliResult RunIn(const std::string& strDir, const std::vector<std::string>& vArgs,
                    const std::string& strStdin = "") {
        return CliProcess(m_strHome, strDir, vArgs, strStdin).Wait();
    }
    // Runs in the work folder against this test's stand-in.
    CliResult Run(std::vector<std::string> vArgs, const std::string& strStdin = "") {
        vArgs.insert(vArgs.begin(), {"--server", StandinHost()});
        return RunIn(m_strWork, vArgs, strStdin);
    }
    CliResult RunAsAlice(std::vector<std::string> vArgs,
                         const std::string& strPassword = "wonderland") {
        vArgs.insert(vArgs.begin(), {"--user", "alice", "--password-stdin"});
        return Run(vArgs, strPassword + "\n");
    }

    // nSize pseudo-random bytes in the work folder; returns the name (relative to it).
    std::string MakeFile(const std::string& strName, long long nSize, unsigned nSeed) {
        return EngineTest::MakeFile(strName, nSize, nSeed), strName;
    }
};

TEST_F(CliTest, EachFileAndFolderEndsInOneLineAndAFailureFailsOnlyItself) {
    std::string strA = MakeFile("a.bin", 1048576 + 1, 1);
    std::string strEmpty = MakeFile("empty.bin", 0, 3);
    MakeFile("folder/top.bin", 1048576 + 3, 10);
    MakeFile("folder/sub/deep.bin", 700, 11);
    CliResult result = RunAsAlice({"--remember", "--jobs", "2", strA, strEmpty, "folder/"});
    EXPECT_EQ(1, result.nExitCode) << result.strOut << result.strErr;
    EXPECT_TRUE(HasLine(result.strOut, "OK a.bin")) << result.strOut;
    EXPECT_TRUE(HasLine(result.strOut, "FAILED empty.bin: 1000 " + std::string(kEmptyFile)))
        << result.strOut;
    EXPECT_TRUE(HasLine(result.strOut, "OK folder/")) << result.strOut;
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

TEST_F(CliTest, WrongPasswordExitsOneWithTheServiceMessage) {
    std::string strFile = MakeFile("a.bin", 100, 5);
    CliResult result = RunAsAlice({strFile}, "not-the-password");
    EXPECT_EQ(1, result.nExitCode);
    EXPECT_NE(std::string::npos, result.strErr.find(kWrongLogin)) << result.strErr;
    EXPECT_EQ("", result.strOut);
    EXPECT_EQ(std::string::npos, StandinLog().find("dispatch"));
}

TEST_F(CliTest, RememberedAccountLogsInWithoutUser) {
    // a login without --remember keeps the account but not its password hash
    ASSERT_EQ(0, RunAsAlice({MakeFile("a.bin", 100, 6)}).nExitCode);
    CliResult noHash = Run({MakeFile("b.bin", 100, 7)});
    EXPECT_EQ(2, noHash.nExitCode);
    EXPECT_NE(std::string::npos, noHash.strErr.find("--remember")) << noHash.strErr;

    ASSERT_EQ(0, RunAsAlice({"--remember", "--auto", "a.bin"}).nExitCode);
    std::string strIni = velmotest::ReadFile(m_strHome + "/.Vurozudeduz/upload/account.ini");
    EXPECT_NE(std::string::npos, strIni.find("auto=1")) << strIni;
    CliResult again = Run({"b.bin"});
    EXPECT_EQ(0, again.nExitCode) << again.strOut << again.strErr;
    EXPECT_TRUE(HasLine(again.strOut, "OK b.bin")) << again.strOut;
    ExpectStored(m_strWork + "/b.bin");
}

TEST_F(CliTest, InterruptedUploadIsListedAndResumed) {
    std::string strFile = MakeFile("big.bin", 4 * 1048576 + 7, 8);
    const std::string strAbsolute = m_strWork + "/big.bin";
    // every piece waits a moment at the service, so the signal lands in the middle
    Fault("action=stall&on=piece&seconds=0.5&count=4");

    CliProcess upload(
        m_strHome, m_strWork,
        {"--server", StandinHost(), "--user", "alice", "--password-stdin", "--remember", strFile},
        "wonderland\n");
    ASSERT_TRUE(
        velmotest::waitFor([&] { return StandinLog().find("/2.0/bigupload") != std::string::npos; },
                           std::chrono::seconds(30)));
    upload.Signal(SIGINT);
    CliResult stopped = upload.Wait();
    EXPECT_EQ(130, stopped.nExitCode) << stopped.strOut << stopped.strErr;
    EXPECT_TRUE(HasLine(stopped.strOut, "STOPPED big.bin")) << stopped.strOut;

    // listed by its absolute path, whatever the folder the next run starts in
    CliResult listed = RunIn(m_strHome, {"--server", StandinHost()});
    EXPECT_EQ(0, listed.nExitCode) << listed.strErr;
    EXPECT_EQ(strAbsolute + "\n", listed.strOut);

    CliResult resumed = RunIn(m_strHome, {"--server", StandinHost(), "--resume"});
    EXPECT_EQ(0, resumed.nExitCode) << resumed.strOut << resumed.strErr;
    EXPECT_TRUE(HasLine(resumed.strOut, "OK " + strAbsolute)) << resumed.strOut;
    // continued where the service stood, not sent again from the start
    // (the stand-in logs a continued upload as "... resume PICKCODE at OFFSET")
    EXPECT_TRUE(std::regex_search(StandinLog(), std::regex(" resume \\S+ at [1-9]")))
        << StandinLog();
    ExpectStored(strAbsolute);
    EXPECT_EQ("", RunIn(m_strHome, {"--server", StandinHost()}).strOut);
}

TEST_F(CliTest, BadUsageExitsTwoBeforeAnyLogin) {
    std::string strFile = MakeFile("a.bin", 100, 9);
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus", strFile},
        {"--jobs", "0", strFile},
        {"--jobs", "two", strFile},
        {"--jobs"},
        {"--server", "host:99999", strFile},
        {"--password", "secret", strFile},
        {"--password-stdin", strFile},  // no --user
        {"missing.bin"},
    };
    for (const std::vector<std::string>& vArgs : cases) {
        CliResult result = RunIn(m_strWork, vArgs, "wonderland\n");
        std::string strCase;
        for (const std::string& s : vArgs)
            strCase += s + " ";
        EXPECT_EQ(2, result.nExitCode) << strCase;
        EXPECT_NE("", result.strErr) << strCase;
        EXPECT_EQ("", result.strOut) << strCase;
    }
    // no account to fall back on, and no terminal to ask a password on
    EXPECT_EQ(2, Run({strFile}).nExitCode);
    CliResult noTerminal = Run({"--user", "alice", strFile});
    EXPECT_EQ(2, noTerminal.nExitCode);
    EXPECT_NE(std::string::npos, noTerminal.strErr.find("--password-stdin"));
    EXPECT_TRUE(LogLines("/app/clogin").empty()) << StandinLog();

    CliResult help = RunIn(m_strWork, {"--help"});
    EXPECT_EQ(0, help.nExitCode);
    EXPECT_EQ(0u, help.strOut.rfind("usage: velmoupload-cli", 0)) << help.strOut;
}

}  // namespace
}  // namespace clitest
