// The single-instance channel: what a message may hold, and who becomes the instance.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "TestHome.h"
#include "single_instance.h"

namespace velmotest {
namespace {

using rodedudir::SingletonRequest;

TEST(SingletonMessage, Rules) {
    const std::string kHead = "zov_restore;zov_addtask;";
    struct Case {
        const char* pszWhat;
        std::string strMessage;
        bool bUsable;
        bool bAddTask;
        std::string strPath;
    };
    const Case cases[] = {
        {"no path: show the window", kHead, true, true, ""},
        {"a path may hold the separator", kHead + "/x;y", true, true, "/x;y"},
        {"shorter than the two commands", "zov_restore;zov_addta", false, false, ""},
        {"not a restore command", "zov_restorx;zov_addtask;/tmp/a", false, false, ""},
        {"restore without adding", "zov_restore;zov_nothing;/tmp/a", true, false, ""},
        {"a command field wider than 19", "zov_restore" + std::string(9, 'x') + ";zov_addtask;/a",
         false, false, ""},
        {"exactly 1023 bytes", kHead + "/" + std::string(1023 - kHead.size() - 1, 'p'), true, true,
         "/" + std::string(1023 - kHead.size() - 1, 'p')},
        {"1024 bytes", kHead + "/" + std::string(1024 - kHead.size() - 1, 'p'), false, false, ""},
        {"a NUL in the path", kHead + std::string("/a\0b", 4), false, false, ""},
    };
    for (const Case& c : cases) {
        SingletonRequest request;
        std::string strWhy;
        EXPECT_EQ(c.bUsable, rodedudir::parse_singleton_message(c.strMessage, request, strWhy))
            << c.pszWhat;
        EXPECT_EQ(c.bAddTask, request.bAddTask) << c.pszWhat;
        EXPECT_EQ(c.strPath, request.strPath) << c.pszWhat;
    }

    // the sender refuses a path that would not fit rather than cut it to another file's name
    std::string strMessage;
    EXPECT_TRUE(
        rodedudir::format_singleton_message(std::string(1023 - kHead.size(), 'p'), strMessage));
    EXPECT_EQ(1023u, strMessage.size());
    EXPECT_FALSE(
        rodedudir::format_singleton_message(std::string(1024 - kHead.size(), 'p'), strMessage));
}

class SingleInstanceTest : public TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        m_strRuntime = MakeTempDir("velmo-run-");
        setenv("XDG_RUNTIME_DIR", m_strRuntime.c_str(), 1);
    }
    void TearDown() override {
        RemoveTree(m_strRuntime);
        TempHomeTest::TearDown();
    }
    // What the instance listening on nFd receives next.
    static bool Receive(int nFd, SingletonRequest& request, std::string& strWhy) {
        int nConn = accept(nFd, nullptr, nullptr);
        bool bOk = nConn >= 0 && rodedudir::read_singleton_request(nConn, request, strWhy);
        if (nConn >= 0)
            close(nConn);
        return bOk;
    }
    std::string m_strRuntime;
};

// Second starts handing over and a stale socket are proven by the program itself (e2e); here
// what a start cannot show: a path too long to send, and a client that never finishes.
TEST_F(SingleInstanceTest, APathTooLongIsRefusedAndASilentClientDoesNotHoldTheServer) {
    std::string strError, strSocket = rodedudir::singleton_socket_path(strError);
    ASSERT_EQ(m_strRuntime + "/ZOVBACKUP_SINGLETON", strSocket) << strError;
    EXPECT_EQ(rodedudir::ClaimResult::First, rodedudir::claim_single_instance("", strError))
        << strError;
    int nListen = rodedudir::listening_fd();
    ASSERT_GE(nListen, 0);
    EXPECT_EQ(rodedudir::ClaimResult::PathTooLong,
              rodedudir::claim_single_instance("/" + std::string(1100, 'p'), strError));

    int nSilent = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, strSocket.c_str(), sizeof(addr.sun_path) - 1);
    ASSERT_EQ(0, connect(nSilent, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    SingletonRequest request;
    std::string strWhy;
    EXPECT_FALSE(Receive(nListen, request, strWhy));
    EXPECT_EQ("message not ended in time", strWhy);
    close(nSilent);
    close(nListen);
}

TEST_F(SingleInstanceTest, WithoutARuntimeFolderTheSocketLivesInAFolderOnlyTheUserCanEnter) {
    unsetenv("XDG_RUNTIME_DIR");
    std::string strError, strSocket = rodedudir::singleton_socket_path(strError);
    std::string strDir = "/tmp/ZOVBACKUP_SINGLETON-" + std::to_string(getuid());
    EXPECT_EQ(strDir + "/ZOVBACKUP_SINGLETON", strSocket) << strError;
    struct stat st;
    ASSERT_EQ(0, lstat(strDir.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777);
}

}  // namespace
}  // namespace velmotest
