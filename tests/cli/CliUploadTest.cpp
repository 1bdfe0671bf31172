// The headless client end to end against the stand-in: exit statuses, final lines, the bytes
// the service stored, the remembered account, and an interrupted upload that resumes.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <random>

#include "CliProcess.h"
#include "ContentFiles.h"
#include "StandinFixture.h"
#include "TestHome.h"
#include "WaitFor.h"
#include "http/QvHttpClient.h"
#include "utils/Utils.h"

namespace clitest {
namespace {

using _VelmoUpload::Utils;

const char kWrongLogin[] = "帐号或密码错误";  // the stand-in's refusal
const char kEmptyFile[] = "空文件不能上传";   // catalogue text of 1000

// The stand-in logs a continued upload as "... resume PICKCODE at OFFSET".
bool ResumedPastStart(const std::string& strLog) {
    for (const std::string& strLine : Lines(strLog)) {
        std::string::size_type nAt = strLine.find(" at ");
        if (strLine.find(" resume ") != std::string::npos && nAt != std::string::npos &&
            nAt + 4 < strLine.size() && strLine[nAt + 4] >= '1' && strLine[nAt + 4] <= '9')
            return true;
    }
    return false;
}

bool HasLine(const std::string& strText, const std::string& strLine) {
    std::vector<std::string> lines = Lines(strText);
    return std::find(lines.begin(), lines.end(), strLine) != lines.end();
}

class CliTest : public velmotest::StandinFixture {
protected:
    std::vector<std::string> StandinArgs() const override { return {"--user", "alice:wonderland"}; }

    // Runs in the work folder against this test's stand-in.
    CliResult Run(std::vector<std::string> vArgs, const std::string& strStdin = "") {
        vArgs.insert(vArgs.begin(), {"--server", StandinHost()});
        return RunCli(m_strHome, m_strWork, vArgs, strStdin);
    }
    CliResult RunAsAlice(std::vector<std::string> vArgs,
                         const std::string& strPassword = "wonderland") {
        vArgs.insert(vArgs.begin(), {"--user", "alice", "--password-stdin"});
        return Run(vArgs, strPassword + "\n");
    }

    // nSize pseudo-random bytes in the work folder; returns the name (relative to it).
    std::string MakeFile(const std::string& strName, size_t nSize, unsigned nSeed) {
        std::mt19937 rng(nSeed);
        std::string strData(nSize, '\0');
        for (char& c : strData)
            c = static_cast<char>(rng());
        velmotest::WriteFile(m_strWork + "/" + strName, strData);
        return strName;
    }

    // The service holds exactly the bytes of the file.
    void ExpectStored(const std::string& strName) {
        const std::string strPath = m_strWork + "/" + strName;
        std::string strSha1;
        int nError = 0;
        ASSERT_TRUE(Utils::GetFileHash(strPath, strSha1, nError, nullptr));
        standin::ContentFiles files;
        files.Open(StandinDataDir());
        std::string strStored = files.ContentPath(strSha1);
        ASSERT_TRUE(Utils::IsExist(strStored)) << strName << " is not on the service";
        EXPECT_TRUE(velmotest::ReadFile(strStored) == velmotest::ReadFile(strPath)) << strName;
    }

    bool StandinSawLogin() const { return StandinLog().find("/app/clogin") != std::string::npos; }
};

TEST_F(CliTest, EachFileAndFolderEndsInOneLineAndAFailureFailsOnlyItself) {
    std::string strA = MakeFile("a.bin", 1048576 + 1, 1);
    std::string strEmpty = MakeFile("empty.bin", 0, 3);
    ASSERT_EQ(0, mkdir((m_strWork + "/folder").c_str(), 0700));
    ASSERT_EQ(0, mkdir((m_strWork + "/folder/sub").c_str(), 0700));
    MakeFile("folder/top.bin", 1048576 + 3, 10);
    MakeFile("folder/sub/deep.bin", 700, 11);
    CliResult result = RunAsAlice({"--remember", "--jobs", "2", strA, strEmpty, "folder/"});
    EXPECT_EQ(1, result.nExitCode) << result.strOut << result.strErr;
    EXPECT_TRUE(HasLine(result.strOut, "OK a.bin")) << result.strOut;
    EXPECT_TRUE(HasLine(result.strOut, "FAILED empty.bin: 1000 " + std::string(kEmptyFile)))
        << result.strOut;
    EXPECT_TRUE(HasLine(result.strOut, "OK folder/")) << result.strOut;
    for (const char* pszName : {"a.bin", "folder/top.bin", "folder/sub/deep.bin"})
        ExpectStored(pszName);
    // the engine's own diagnostics never mix into the results
    for (const std::string& strLine : Lines(result.strOut))
        EXPECT_TRUE(strLine.rfind("OK ", 0) == 0 || strLine.rfind("FAILED ", 0) == 0 ||
                    strLine.rfind("progress: ", 0) == 0)
            << strLine;

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
    ExpectStored("b.bin");
}

TEST_F(CliTest, InterruptedUploadIsListedAndResumed) {
    std::string strFile = MakeFile("big.bin", 4 * 1048576 + 7, 8);
    const std::string strAbsolute = m_strWork + "/big.bin";
    // every piece waits a moment at the service, so the signal lands in the middle
    std::string strReply;
    _VelmoUpload::QvHttpClient control;
    ASSERT_TRUE(control.Post(StandinUrl("/_standin/fault"),
                             "action=stall&on=piece&seconds=0.5&count=4", strReply));

    CliProcess upload(m_strHome, m_strWork);
    ASSERT_TRUE(upload.Start(
        {"--server", StandinHost(), "--user", "alice", "--password-stdin", "--remember", strFile},
        "wonderland\n"));
    ASSERT_TRUE(
        velmotest::waitFor([&] { return StandinLog().find("/2.0/bigupload") != std::string::npos; },
                           std::chrono::seconds(30)));
    upload.Signal(SIGINT);
    CliResult stopped = upload.Wait();
    EXPECT_EQ(130, stopped.nExitCode) << stopped.strOut << stopped.strErr;
    EXPECT_TRUE(HasLine(stopped.strOut, "STOPPED big.bin")) << stopped.strOut;

    // listed by its absolute path, whatever the folder the next run starts in
    CliResult listed = RunCli(m_strHome, m_strHome, {"--server", StandinHost()});
    EXPECT_EQ(0, listed.nExitCode) << listed.strErr;
    EXPECT_EQ(strAbsolute + "\n", listed.strOut);

    CliResult resumed = RunCli(m_strHome, m_strHome, {"--server", StandinHost(), "--resume"});
    EXPECT_EQ(0, resumed.nExitCode) << resumed.strOut << resumed.strErr;
    EXPECT_TRUE(HasLine(resumed.strOut, "OK " + strAbsolute)) << resumed.strOut;
    // continued where the service stood, not sent again from the start
    EXPECT_TRUE(ResumedPastStart(StandinLog())) << StandinLog();
    ExpectStored(strFile);
    EXPECT_EQ("", RunCli(m_strHome, m_strHome, {"--server", StandinHost()}).strOut);
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
        CliResult result = RunCli(m_strHome, m_strWork, vArgs, "wonderland\n");
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
    EXPECT_FALSE(StandinSawLogin()) << StandinLog();

    CliResult help = RunCli(m_strHome, m_strWork, {"--help"});
    EXPECT_EQ(0, help.nExitCode);
    EXPECT_EQ(0u, help.strOut.rfind("usage: velmoupload-cli", 0)) << help.strOut;
}

}  // namespace
}  // namespace clitest
