// The resume store: records and their file, what a new login announces, the save thread's
// batching and life, and what a close must not lose.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestHome.h"
#include "TestHttpServer.h"
#include "Velmoupload.h"
#include "WaitFor.h"
#include "core/FolderManager.h"
#include "core/LoginManager.h"
#include "core/ResumeManager.h"
#include "utils/Utils.h"

using namespace _VelmoUpload;
using velmotest::ReadFile;
using velmotest::TestHttpServer;
using velmotest::waitFor;
using velmotest::WriteFile;

namespace {

struct Report {
    std::string strPath;
    long long nFileSize;
    long long nUploadSize;
    int status;
    bool bIsFolder;
};

std::mutex g_reportLock;
std::vector<Report> g_reports;

void RecordReport(std::string, std::string strFilePath, int64_t nFileSize, int64_t nUploadSize, int,
                  int, int status, double, int, std::string, std::string, bool bIsFolder,
                  std::string, void*) {
    std::lock_guard<std::mutex> lock(g_reportLock);
    g_reports.push_back(Report{strFilePath, nFileSize, nUploadSize, status, bIsFolder});
}

std::vector<Report> Reports() {
    std::lock_guard<std::mutex> lock(g_reportLock);
    return g_reports;
}

class LoginCounter : public LoginObserver {
public:
    void LoginFinish() override { ++m_nLogins; }
    void LogoutFinish() override {}
    std::atomic<int> m_nLogins{0};
};

std::string LoginReply(const std::string& strUserId) {
    std::string strBody =
        "{\"state\":true,\"error\":\"\",\"upload_allowed\":1,\"is_vip\":0,\"user_id\":\"" +
        strUserId +
        "\",\"user_name\":\"u\",\"face\":\"\",\"email\":\"\",\"resource\":\"src\","
        "\"userkey\":\"KEY\",\"url_upload\":\"http://u/up\",\"url_resume\":\"http://u/re\","
        "\"url_cancel\":\"http://u/ca\",\"target\":\"U_1_0\",\"time_limit\":0,"
        "\"size_limit\":1000000,\"space\":{\"byte_size_total\":1000,\"byte_size_used\":10,"
        "\"byte_size_remain\":990,\"size_used_percent\":\"1.00\",\"size_total\":\"1000B\","
        "\"size_used\":\"10B\",\"size_remain\":\"990B\"},\"type_limit\":[],\"file_range\":{}}";
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(strBody.size()) + "\r\nConnection: close\r\n\r\n" + strBody;
}

int ThreadCount() {
    int nCount = 0;
    DIR* pDir = opendir("/proc/self/task");
    if (!pDir)
        return -1;
    while (dirent* pEntry = readdir(pDir)) {
        if (pEntry->d_name[0] != '.')
            ++nCount;
    }
    closedir(pDir);
    return nCount;
}

// The save thread names itself, so the process's thread list tells how many are alive.
int SaveThreadCount() {
    int nCount = 0;
    DIR* pDir = opendir("/proc/self/task");
    if (!pDir)
        return -1;
    while (dirent* pEntry = readdir(pDir)) {
        if (pEntry->d_name[0] == '.')
            continue;
        // a thread may end between the listing and the read: it simply does not count
        std::string strPath = std::string("/proc/self/task/") + pEntry->d_name + "/comm";
        int fd = open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        char buf[32];
        ssize_t n = read(fd, buf, sizeof(buf));
        close(fd);
        if (n > 0 && std::string(buf, static_cast<size_t>(n)) == "velmo-resume\n")
            ++nCount;
    }
    closedir(pDir);
    return nCount;
}

// Every write replaces the file (a new inode) with a new modification time.
struct FileStamp {
    bool bExists = false;
    ino_t nInode = 0;
    long long nMtimeNs = 0;
    bool operator!=(const FileStamp& other) const {
        return bExists != other.bExists || nInode != other.nInode || nMtimeNs != other.nMtimeNs;
    }
};

FileStamp StampOf(const std::string& strPath) {
    FileStamp stamp;
    struct stat st;
    if (stat(strPath.c_str(), &st) == 0) {
        stamp.bExists = true;
        stamp.nInode = st.st_ino;
        stamp.nMtimeNs = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
    }
    return stamp;
}

// Counts the writes of the file during a window; writes come at least a second apart, so a
// poll every millisecond sees each one.
int CountWrites(const std::string& strPath, FileStamp stamp, std::chrono::milliseconds window) {
    int nWrites = 0;
    const auto end = std::chrono::steady_clock::now() + window;
    while (std::chrono::steady_clock::now() < end) {
        FileStamp now = StampOf(strPath);
        if (now != stamp) {
            ++nWrites;
            stamp = now;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return nWrites;
}

void FillTask(TaskInfo& task, const std::string& strPath, const std::string& strFolder = "") {
    task.strFilePath = strPath;
    task.strFolderPath = strFolder;
    task.strFolderTarget = strFolder.empty() ? "" : "FT";
    task.strFileHash = "HASH-" + strPath;
    task.strFileMDVelmo = "QUICK";
    task.strPickCode = "pc1";
    task.strTarget = "U_1_0";
    task.nFileSize = 1000;
    task.nUploadSize = 250;
    task.ispType = ISPTypeCnc;
}

std::string Record(const std::string& strPath, const std::string& strFolder,
                   const std::string& strFolderTarget, long long nSize, long long nUpload,
                   bool bWithIsp = true) {
    std::string strText = "[" + strPath + "]\nfileid=H\nfilesize=" + std::to_string(nSize) +
                          "\nfolderpath=" + strFolder + "\nfoldertarget=" + strFolderTarget + "\n";
    if (bWithIsp)
        strText += "isp=0\n";
    return strText + "pickcode=\nquickid=Q\ntarget=" + (strFolder.empty() ? "U_1_0" : "") +
           "\nuploadsize=" + std::to_string(nUpload) + "\n";
}

class ResumeManagerTest : public velmotest::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        if (HasFatalFailure())
            return;
        std::lock_guard<std::mutex> lock(g_reportLock);
        g_reports.clear();
        LoginManager::AddObserver(&m_counter);
    }
    void TearDown() override {
        UploadManager::UnInitialize();
        ResumeManager::UnInitialize();
        // folders announced by a Load without the upload manager
        FolderManager::DelAllTask();
        LoginManager::Logout();
        EXPECT_TRUE(waitFor([] { return SaveThreadCount() == 0; }, std::chrono::seconds(3)))
            << "a save thread outlived its store";
        // The engine's other threads end within a second of the logout; letting them finish
        // keeps them from running into the process's static destructors.
        waitFor([] { return ThreadCount() == 1; }, std::chrono::seconds(3));
        LoginManager::RemoveObserver(&m_counter);
        LoginManager::SetApiHost(std::string());
        TempHomeTest::TearDown();
    }

    void LoginAs(const std::string& strUserId) {
        LoginManager::Logout();
        TestHttpServer server(TestHttpServer::Behaviour::Reply(LoginReply(strUserId)));
        LoginManager::SetApiHost("127.0.0.1:" + std::to_string(server.Port()));
        int nBefore = m_counter.m_nLogins;
        ASSERT_TRUE(LoginManager::Login("u", "pw", false, false));
        ASSERT_TRUE(
            waitFor([&] { return m_counter.m_nLogins > nBefore; }, std::chrono::seconds(20)));
        ASSERT_TRUE(LoginManager::IsLogin());
        ASSERT_EQ(strUserId, LoginManager::GetUserId());
    }

    std::string ConfigFolder() const { return m_strHome + "/.Vurozudeduz/upload/"; }
    std::string ResumeFile(const std::string& strUserId) const {
        return ConfigFolder() + strUserId + "_upload.ini";
    }
    void WriteResumeFile(const std::string& strUserId, const std::string& strText) {
        ASSERT_TRUE(Utils::CreateDir(ConfigFolder()));
        WriteFile(ResumeFile(strUserId), strText);
    }
    // Waits until the save thread has written strNeedle into the file.
    bool WaitForFileContaining(const std::string& strPath, const std::string& strNeedle) {
        return waitFor([&] { return ReadFile(strPath).find(strNeedle) != std::string::npos; },
                       std::chrono::seconds(4));
    }

    LoginCounter m_counter;
};

// ---------------------------------------------------------------- what a login announces

TEST_F(ResumeManagerTest, LoadAnnouncesStoredFilesAsStoppedAndFoldersWithTheirTotals) {
    LoginAs("7");
    WriteResumeFile("7", Record("/home/u/photos/a.jpg", "/home/u/photos", "FT", 100, 40) +
                             Record("/home/u/single.txt", "", "", 5000, 1000) +
                             Record("/home/u/photos/sub/b.jpg", "/home/u/photos", "", 300, 0) +
                             Record("/home/u/docs/c.txt", "/home/u/docs", "DT", 7, 7));

    UploadManager::Initialize(&RecordReport, nullptr);

    std::vector<Report> reports = Reports();
    ASSERT_EQ(5u, reports.size());
    // in file order: each folder as soon as its first file is seen, with nothing counted yet
    EXPECT_EQ("/home/u/photos", reports[0].strPath);
    EXPECT_TRUE(reports[0].bIsFolder);
    EXPECT_EQ(0, reports[0].nFileSize);
    EXPECT_EQ("/home/u/single.txt", reports[1].strPath);
    EXPECT_FALSE(reports[1].bIsFolder);
    EXPECT_EQ(5000, reports[1].nFileSize);
    EXPECT_EQ(1000, reports[1].nUploadSize);
    EXPECT_EQ("/home/u/docs", reports[2].strPath);
    EXPECT_EQ(0, reports[2].nFileSize);
    // then every folder again with its totals, in ascending path order
    EXPECT_EQ("/home/u/docs", reports[3].strPath);
    EXPECT_EQ(7, reports[3].nFileSize);
    EXPECT_EQ("/home/u/photos", reports[4].strPath);
    EXPECT_TRUE(reports[4].bIsFolder);
    EXPECT_EQ(400, reports[4].nFileSize);
    EXPECT_EQ(40, reports[4].nUploadSize);
    for (const Report& report : reports)
        EXPECT_EQ(TaskStatusStop, report.status) << report.strPath;

    // the single file is only shown; the folders are handed to the folder manager
    EXPECT_EQ(nullptr, UploadManager::GetTask("/home/u/single.txt"));
    EXPECT_EQ(0, UploadManager::GetTaskCount());
    PFolderTaskInfo pFolder = FolderManager::GetTask("/home/u/photos");
    ASSERT_NE(nullptr, pFolder);
    MutexLocker lock(pFolder->mutex);
    EXPECT_EQ("FT", pFolder->strTarget) << "the first file's folder target";
    EXPECT_EQ(2, pFolder->nFileCount);
    EXPECT_EQ((FileList{"/home/u/photos/a.jpg", "/home/u/photos/sub/b.jpg"}), pFolder->fileList);
    ASSERT_EQ(1u, pFolder->folderTargetList.count("/home/u/photos/sub"));
    EXPECT_EQ("", pFolder->folderTargetList["/home/u/photos/sub"].first);
}

TEST_F(ResumeManagerTest, AnIncompleteRecordIsNeitherAnnouncedNorKept) {
    LoginAs("7");
    WriteResumeFile(
        "7", Record("/w/no-isp.bin", "", "", 10, 0, false) + Record("/w/ok.bin", "", "", 10, 0));
    UploadManager::Initialize(&RecordReport, nullptr);

    std::vector<Report> reports = Reports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ("/w/ok.bin", reports[0].strPath);
    std::vector<std::string> paths{"stale"};
    EXPECT_TRUE(ResumeManager::GetResumePaths(paths));
    EXPECT_EQ((std::vector<std::string>{"/w/ok.bin"}), paths);

    TaskInfo task;
    FillTask(task, "/w/new.bin");
    ASSERT_TRUE(ResumeManager::Update(&task, false));
    ASSERT_TRUE(WaitForFileContaining(ResumeFile("7"), "[/w/new.bin]"));
    std::string strFile = ReadFile(ResumeFile("7"));
    EXPECT_EQ(std::string::npos, strFile.find("[/w/no-isp.bin]"));
    EXPECT_NE(std::string::npos, strFile.find("[/w/ok.bin]"));
}

TEST_F(ResumeManagerTest, MissingOrEmptyFileLoadsNothing) {
    LoginAs("7");
    UploadManager::Initialize(&RecordReport, nullptr);
    EXPECT_TRUE(Reports().empty());
    std::vector<std::string> paths;
    EXPECT_TRUE(ResumeManager::GetResumePaths(paths));
    EXPECT_TRUE(paths.empty());
    UploadManager::UnInitialize();

    // a zero-length file is no different
    WriteResumeFile("7", "");
    UploadManager::Initialize(&RecordReport, nullptr);
    EXPECT_TRUE(Reports().empty());
}

// ---------------------------------------------------------------- records

TEST_F(ResumeManagerTest, UpdateWritesNineKeysAndGetResumeInfoReadsThemBack) {
    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    EXPECT_FALSE(ResumeManager::Initialize()) << "already open";

    TaskInfo single;
    FillTask(single, "/w/single.bin");
    single.ispType = static_cast<ISPType>(-1);  // stored widened without sign
    TaskInfo member;
    FillTask(member, "/w/dir/member.bin", "/w/dir");
    ASSERT_TRUE(ResumeManager::Update(&single, false));
    ASSERT_TRUE(ResumeManager::Update(&member, true));
    ASSERT_TRUE(WaitForFileContaining(ResumeFile("7"), "[/w/dir/member.bin]"));

    std::string strFile = ReadFile(ResumeFile("7"));
    EXPECT_NE(std::string::npos,
              strFile.find("[/w/single.bin]\nfileid=HASH-/w/single.bin\nfilesize=1000\n"
                           "folderpath=\nfoldertarget=\nisp=4294967295\npickcode=pc1\n"
                           "quickid=QUICK\ntarget=U_1_0\nuploadsize=250\n"))
        << strFile;
    // a folder's file never keeps the target it had: the folder logic gives it on every run
    EXPECT_NE(std::string::npos,
              strFile.find("[/w/dir/member.bin]\nfileid=HASH-/w/dir/member.bin\nfilesize=1000\n"
                           "folderpath=/w/dir\nfoldertarget=FT\nisp=2\npickcode=pc1\n"
                           "quickid=QUICK\ntarget=\nuploadsize=250\n"))
        << strFile;

    ResumeInfo info;
    ASSERT_TRUE(ResumeManager::GetResumeInfo("/w/dir/member.bin", info));
    EXPECT_EQ("HASH-/w/dir/member.bin", info.strFileHash);
    EXPECT_EQ("QUICK", info.strFileMDVelmo);
    EXPECT_EQ("pc1", info.strPickCode);
    EXPECT_EQ("/w/dir", info.strFolderPath);
    EXPECT_EQ("FT", info.strFolderTarget);
    EXPECT_EQ("", info.strTarget);
    EXPECT_EQ(1000, info.nFileSize);
    EXPECT_EQ(250, info.nUploadSize);
    EXPECT_EQ(ISPTypeCnc, info.ispType);

    // an unchanged record is written again with the new byte count
    member.nUploadSize = 900;
    ASSERT_TRUE(ResumeManager::Update(&member, false));
    ASSERT_TRUE(ResumeManager::GetResumeInfo("/w/dir/member.bin", info));
    EXPECT_EQ(900, info.nUploadSize);

    TaskInfo noPath;
    EXPECT_FALSE(ResumeManager::Update(&noPath, true));
    EXPECT_FALSE(ResumeManager::Update(nullptr, true));
}

TEST_F(ResumeManagerTest, GetResumeInfoFindsOnlyCompleteRecords) {
    LoginAs("7");
    WriteResumeFile("7",
                    "[/w/nohash]\nfilesize=5\n"
                    "[/w/partial]\nfileid=H2\nfilesize=\nuploadsize=x7\npickcode=p\n" +
                        Record("/w/ok.bin", "", "", 10, 4));
    ASSERT_TRUE(ResumeManager::Initialize());
    ResumeInfo info;
    info.strFileHash = "keep";
    EXPECT_FALSE(ResumeManager::GetResumeInfo("/w/ok.bin", info)) << "opening reads nothing";
    // Load with the upload manager closed: no report goes anywhere
    ASSERT_TRUE(ResumeManager::Load());

    for (const char* pszPath : {"/w/nohash", "/w/partial", "/w/unknown"})
        EXPECT_FALSE(ResumeManager::GetResumeInfo(pszPath, info)) << pszPath;
    EXPECT_EQ("keep", info.strFileHash);
    ASSERT_TRUE(ResumeManager::GetResumeInfo("/w/ok.bin", info));
    EXPECT_EQ(10, info.nFileSize);
    EXPECT_EQ(4, info.nUploadSize);
    EXPECT_EQ("U_1_0", info.strTarget);
}

TEST_F(ResumeManagerTest, GetFolderResumeInfoCollectsOneFoldersRecords) {
    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    long long nTotal = 0, nUpload = 0;
    std::string strTarget;
    FileList files;
    EXPECT_FALSE(ResumeManager::GetFolderResumeInfo("/w/d", nTotal, nUpload, strTarget, files))
        << "an empty store";

    WriteResumeFile("7", Record("/w/d/a", "/w/d", "", 10, 1) +
                             Record("/w/dx/b", "/w/dx", "X", 1, 1) +
                             Record("/w/d/s/b", "/w/d", "T1", 20, 2) +
                             Record("/w/d/c", "/w/d", "T2", 30, 3) + Record("/w/e", "", "", 5, 5));
    ASSERT_TRUE(ResumeManager::Load());

    EXPECT_TRUE(ResumeManager::GetFolderResumeInfo("/w/none", nTotal, nUpload, strTarget, files));
    EXPECT_EQ(0, nTotal);
    EXPECT_EQ(0, nUpload);
    EXPECT_EQ("", strTarget);
    EXPECT_TRUE(files.empty());

    // exact folder match only; sums add to what is passed in; the first target wins
    nTotal = 1000;
    files.push_back("/kept");
    EXPECT_TRUE(ResumeManager::GetFolderResumeInfo("/w/d", nTotal, nUpload, strTarget, files));
    EXPECT_EQ(1060, nTotal);
    EXPECT_EQ(6, nUpload);
    EXPECT_EQ("T1", strTarget);
    EXPECT_EQ((FileList{"/kept", "/w/d/a", "/w/d/s/b", "/w/d/c"}), files);

    strTarget = "mine";
    files.clear();
    EXPECT_TRUE(ResumeManager::GetFolderResumeInfo("/w/dx", nTotal, nUpload, strTarget, files));
    EXPECT_EQ("mine", strTarget) << "a target passed in is kept";
}

TEST_F(ResumeManagerTest, ClosedStoreRefusesEverything) {
    TaskInfo task;
    FillTask(task, "/w/a");
    ResumeInfo info;
    long long nTotal = 0, nUpload = 0;
    std::string strTarget;
    FileList files;
    std::vector<std::string> paths;
    auto expectAllRefused = [&](const char* pWhen) {
        EXPECT_FALSE(ResumeManager::Update(&task, true)) << pWhen;
        EXPECT_FALSE(ResumeManager::Remove("/w/a", true)) << pWhen;
        EXPECT_FALSE(ResumeManager::GetResumeInfo("/w/a", info)) << pWhen;
        EXPECT_FALSE(ResumeManager::GetFolderResumeInfo("/w", nTotal, nUpload, strTarget, files))
            << pWhen;
        EXPECT_FALSE(ResumeManager::GetResumePaths(paths)) << pWhen;
        EXPECT_FALSE(ResumeManager::Save()) << pWhen;
        EXPECT_FALSE(ResumeManager::Load()) << pWhen;
    };
    expectAllRefused("never opened");

    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    ASSERT_TRUE(ResumeManager::Update(&task, false));
    EXPECT_TRUE(ResumeManager::Save());
    ResumeManager::UnInitialize();
    expectAllRefused("after close");
    EXPECT_EQ(0, nTotal);
    EXPECT_TRUE(files.empty());
    ResumeManager::UnInitialize();  // a second close is harmless
}

// ---------------------------------------------------------------- the file and its writes

TEST_F(ResumeManagerTest, WritesAreBatchedToOnePerSecond) {
    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    const std::string strFile = ResumeFile("7");

    TaskInfo a, b;
    FillTask(a, "/w/a");
    FillTask(b, "/w/b");
    FileStamp before = StampOf(strFile);
    ASSERT_TRUE(ResumeManager::Update(&a, true));
    ASSERT_TRUE(ResumeManager::Update(&b, true));
    EXPECT_EQ(1, CountWrites(strFile, before, std::chrono::milliseconds(2600)));
    std::string strText = ReadFile(strFile);
    EXPECT_NE(std::string::npos, strText.find("[/w/a]"));
    EXPECT_NE(std::string::npos, strText.find("[/w/b]"));

    // nothing changed: nothing written
    EXPECT_TRUE(ResumeManager::Save());
    EXPECT_EQ(0, CountWrites(strFile, StampOf(strFile), std::chrono::milliseconds(1600)));

    // removing a path that has no record still costs one write of the same content
    before = StampOf(strFile);
    EXPECT_TRUE(ResumeManager::Remove("/w/never-there", false));
    EXPECT_EQ(1, CountWrites(strFile, before, std::chrono::milliseconds(2600)));
    EXPECT_EQ(strText, ReadFile(strFile));

    EXPECT_TRUE(ResumeManager::Remove("/w/a", true));
    ASSERT_TRUE(waitFor([&] { return ReadFile(strFile).find("[/w/a]") == std::string::npos; },
                        std::chrono::seconds(3)));
    EXPECT_NE(std::string::npos, ReadFile(strFile).find("[/w/b]"));
}

TEST_F(ResumeManagerTest, ResumeFileIsOwnerOnly) {
    LoginAs("7");
    mode_t oldMask = umask(0);
    ASSERT_TRUE(ResumeManager::Initialize());
    TaskInfo task;
    FillTask(task, "/w/a");
    ASSERT_TRUE(ResumeManager::Update(&task, true));
    ResumeManager::UnInitialize();
    umask(oldMask);
    struct stat st;
    ASSERT_EQ(0, stat(ResumeFile("7").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777u);
}

TEST_F(ResumeManagerTest, CloseWritesChangesOfTheLastSecond) {
    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    TaskInfo a, b;
    FillTask(a, "/w/a");
    FillTask(b, "/w/b");
    ASSERT_TRUE(ResumeManager::Update(&a, true));
    ASSERT_TRUE(ResumeManager::Update(&b, true));
    ASSERT_TRUE(WaitForFileContaining(ResumeFile("7"), "[/w/b]"));

    // a stop, a progress step and a cancel just before logout
    b.nUploadSize = 777;
    ASSERT_TRUE(ResumeManager::Update(&b, false));
    ASSERT_TRUE(ResumeManager::Remove("/w/a", false));
    TaskInfo c;
    FillTask(c, "/w/c");
    ASSERT_TRUE(ResumeManager::Update(&c, false));
    ResumeManager::UnInitialize();

    std::string strText = ReadFile(ResumeFile("7"));
    EXPECT_EQ(std::string::npos, strText.find("[/w/a]"));
    EXPECT_NE(std::string::npos, strText.find("uploadsize=777\n"));
    EXPECT_NE(std::string::npos, strText.find("[/w/c]"));

    // and after a new login the store reads what was written
    ASSERT_TRUE(ResumeManager::Initialize());
    ASSERT_TRUE(ResumeManager::Load());
    std::vector<std::string> paths;
    ASSERT_TRUE(ResumeManager::GetResumePaths(paths));
    EXPECT_EQ((std::vector<std::string>{"/w/b", "/w/c"}), paths);
}

// ---------------------------------------------------------------- the save thread's life

TEST_F(ResumeManagerTest, QuickCloseAndReopenLeavesOneSaveThread) {
    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    for (int i = 0; i < 3; ++i) {
        ResumeManager::UnInitialize();
        ASSERT_TRUE(ResumeManager::Initialize());
    }
    EXPECT_TRUE(waitFor([] { return SaveThreadCount() == 1; }, std::chrono::seconds(3)));
    // past a full pass: the old threads did not merely sleep through the check
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(1, SaveThreadCount());

    // the one left still writes
    TaskInfo task;
    FillTask(task, "/w/after-reopen");
    ASSERT_TRUE(ResumeManager::Update(&task, false));
    EXPECT_TRUE(WaitForFileContaining(ResumeFile("7"), "[/w/after-reopen]"));

    ResumeManager::UnInitialize();
    EXPECT_TRUE(waitFor([] { return SaveThreadCount() == 0; }, std::chrono::seconds(3)))
        << "closing ends the save thread even while logged in";
}

TEST_F(ResumeManagerTest, LogoutEndsTheSaveThreadAndCloseStillWrites) {
    LoginAs("7");
    ASSERT_TRUE(ResumeManager::Initialize());
    ASSERT_TRUE(waitFor([] { return SaveThreadCount() == 1; }, std::chrono::seconds(3)));
    LoginManager::Logout();
    EXPECT_TRUE(waitFor([] { return SaveThreadCount() == 0; }, std::chrono::seconds(3)));

    TaskInfo task;
    FillTask(task, "/w/after-logout");
    ASSERT_TRUE(ResumeManager::Update(&task, false));
    ResumeManager::UnInitialize();
    EXPECT_NE(std::string::npos, ReadFile(ResumeFile("7")).find("[/w/after-logout]"));
}

TEST_F(ResumeManagerTest, EachUserKeepsAFileOfTheirOwn) {
    LoginAs("7");
    UploadManager::Initialize(&RecordReport, nullptr);
    TaskInfo mine;
    FillTask(mine, "/w/seven.bin");
    ASSERT_TRUE(ResumeManager::Update(&mine, false));
    UploadManager::UnInitialize();
    LoginManager::Logout();

    LoginAs("8");
    UploadManager::Initialize(&RecordReport, nullptr);
    ResumeInfo info;
    EXPECT_FALSE(ResumeManager::GetResumeInfo("/w/seven.bin", info));
    TaskInfo theirs;
    FillTask(theirs, "/w/eight.bin");
    ASSERT_TRUE(ResumeManager::Update(&theirs, false));
    UploadManager::UnInitialize();
    LoginManager::Logout();

    EXPECT_NE(std::string::npos, ReadFile(ResumeFile("7")).find("[/w/seven.bin]"));
    EXPECT_EQ(std::string::npos, ReadFile(ResumeFile("7")).find("eight"));
    EXPECT_NE(std::string::npos, ReadFile(ResumeFile("8")).find("[/w/eight.bin]"));
    EXPECT_EQ(std::string::npos, ReadFile(ResumeFile("8")).find("seven"));

    // back as the first user: only their own file is announced
    {
        std::lock_guard<std::mutex> lock(g_reportLock);
        g_reports.clear();
    }
    LoginAs("7");
    UploadManager::Initialize(&RecordReport, nullptr);
    std::vector<Report> reports = Reports();
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ("/w/seven.bin", reports[0].strPath);
}

// Loading a file and writing it back changes not a byte: records of folders and single
// files, long values, a hundred records, and a record rewritten with its own values.
TEST_F(ResumeManagerTest, LoadedRecordsAreWrittenBackByteForByte) {
    LoginAs("7");
    std::string strText;
    for (int i = 0; i < 100; ++i)
        strText += Record("/home/u/big/d" + std::to_string(i % 7) + "/f" + std::to_string(i),
                          "/home/u/big", i == 0 ? "FT" : "", 1000 + i, i);
    strText += Record("/home/u/" + std::string(300, 'x'), "", "", 5, 0);
    WriteResumeFile("7", strText);
    UploadManager::Initialize(&RecordReport, nullptr);

    ResumeInfo resumeInfo;
    ASSERT_TRUE(ResumeManager::GetResumeInfo("/home/u/big/d3/f10", resumeInfo));
    TaskInfo task;
    task.strFilePath = "/home/u/big/d3/f10";
    task.strFolderPath = resumeInfo.strFolderPath;
    task.strFileHash = resumeInfo.strFileHash;
    task.strFileMDVelmo = resumeInfo.strFileMDVelmo;
    task.nFileSize = resumeInfo.nFileSize;
    task.nUploadSize = resumeInfo.nUploadSize;
    const FileStamp before = StampOf(ResumeFile("7"));
    ASSERT_TRUE(ResumeManager::Update(&task, true));
    ASSERT_TRUE(
        waitFor([&] { return StampOf(ResumeFile("7")) != before; }, std::chrono::seconds(4)));
    EXPECT_EQ(strText, ReadFile(ResumeFile("7")));
}

}  // namespace
