// Where each file of a folder goes: the relative path and target of every dispatch, files held
// back while their directory (or one above it) is being created, a failed creation handed to
// the next file, whole trees arriving as they are on disk; and what a folder's listing can turn
// up: nothing to upload, no folder at all, entries that are not regular files, and the same
// folder added again (or a logout) while it is still being listed.
#include <sys/stat.h>
#include <unistd.h>

#include "FolderFixture.h"
#include "core/FolderManager.h"

using namespace foldertest;
using namespace _VelmoUpload;

namespace {

// Every folder that holds a file, and the folders above it.
std::set<std::string> FoldersOf(const std::map<std::string, std::string>& files) {
    std::set<std::string> folders;
    for (const auto& file : files)
        for (std::string strDir = Utils::GetParentDir(file.first); !strDir.empty();
             strDir = Utils::GetParentDir(strDir))
            folders.insert(strDir);
    return folders;
}

class FolderDispatchTest : public FolderTest {
protected:
    void ExpectSameTree(const std::string& strFolder) {
        std::map<std::string, std::string> local = LocalTree(strFolder);
        RemoteTree remote = Remote();
        EXPECT_EQ(local, remote.files);
        for (const auto& record : remote.fileRecords)
            EXPECT_EQ(1, record.second) << record.first << " stored more than once";
        EXPECT_EQ(FoldersOf(local), remote.folders);
    }
};

TEST_F(FolderDispatchTest, FilesBelowADirectoryInCreationWaitThenNameOnlyWhatIsMissing) {
    ASSERT_TRUE(Login());
    const std::string strPics = FolderPath("pics");
    // queued in this order: the first claims 2012, the others meet it in creation
    std::vector<std::string> files = {
        MakeFile("pics/2012/x.jpg", 3000, 4),
        MakeFile("pics/2012/jan/d1/z.jpg", 3100, 5),
        MakeFile("pics/2012/jan/y.jpg", 3200, 6),
        MakeFile("pics/2012/w.jpg", 3300, 7),
    };
    RememberFolder(strPics, files);
    const std::string strT = LoginManager::GetTarget();
    UploadManager::SetMaxUploadCount(4);
    Fault("action=stall&on=dispatch&seconds=1&count=1");
    ASSERT_TRUE(UploadManager::UploadFolder(strPics, strT, ISPTypeAuto, true));
    ASSERT_TRUE(WaitForStatus(strPics, TaskStatusSucceed));

    RemoteTree remote = Remote();
    const std::string strYear = remote.targetOf["pics/2012"];
    const std::pair<std::string, std::pair<std::string, std::string>> expected[] = {
        {"x.jpg", {strT, "pics/2012"}},
        {"z.jpg", {strYear, "jan/d1"}},  // 2012 known: only jan and d1 are missing
        {"y.jpg", {strYear, "jan"}},
        {"w.jpg", {strYear, ""}},
    };
    for (const auto& file : expected) {
        SCOPED_TRACE(file.first);
        std::vector<Dispatch> sent = DispatchesOf(file.first);
        ASSERT_EQ(1u, sent.size());
        EXPECT_EQ(file.second.first, sent[0].strTarget);
        EXPECT_EQ(file.second.second, sent[0].strPath);
    }
    ExpectSameTree(strPics);
}

TEST_F(FolderDispatchTest, AFailedClaimIsMadeAgainByTheNextFileAndARestartRetriesOnlyIt) {
    ASSERT_TRUE(Login());
    const std::string strPics = FolderPath("pics");
    MakeFile("pics/2012/x.jpg", 3000, 8);
    MakeFile("pics/2012/y.jpg", 3000, 9);
    const std::string strT = LoginManager::GetTarget();
    UploadManager::SetMaxUploadCount(2);
    Fault("action=status&on=dispatch&statuscode=402&statusmsg=refused&count=1");
    ASSERT_TRUE(UploadManager::UploadFolder(strPics, strT, ISPTypeAuto, true));
    ASSERT_TRUE(WaitForStatus(strPics, TaskStatusError));

    // the refused claim of 2012 is made again by the other file, with the same relative path
    std::vector<Dispatch> first = Dispatches();
    ASSERT_EQ(2u, first.size());
    EXPECT_EQ(strT, first[0].strTarget);
    EXPECT_EQ("pics/2012", first[0].strPath);
    EXPECT_EQ(strT, first[1].strTarget);
    EXPECT_EQ("pics/2012", first[1].strPath);
    const std::string strFailed = strPics + "/2012/" + first[0].strFileName;
    ErrorList errors;
    FolderManager::LoadUnfinishTask(strPics, errors);
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(strFailed, errors.begin()->first);
    EXPECT_EQ("refused", errors.begin()->second);

    // a retry that fails again ends the folder in error again, that file counted once
    Fault("action=status&on=dispatch&statuscode=402&statusmsg=refused&count=1");
    const int nErrors = m_reports.Count(strPics, TaskStatusError);
    ASSERT_TRUE(UploadManager::UploadFolder(strPics, strT, ISPTypeAuto, true));
    ASSERT_TRUE(WaitForCount(strPics, TaskStatusError, nErrors + 1));
    std::vector<Dispatch> second = Dispatches();
    ASSERT_EQ(3u, second.size());
    EXPECT_EQ(first[0].strFileName, second[2].strFileName);
    EXPECT_EQ(Remote().targetOf["pics/2012"], second[2].strTarget);
    EXPECT_EQ("", second[2].strPath);
    errors.clear();
    FolderManager::LoadUnfinishTask(strPics, errors);
    EXPECT_EQ(1u, errors.size());

    // and one that works completes the folder, sending nothing else again
    ASSERT_TRUE(UploadManager::UploadFolder(strPics, strT, ISPTypeAuto, true));
    ASSERT_TRUE(WaitForStatus(strPics, TaskStatusSucceed));
    std::vector<Dispatch> all = Dispatches();
    ASSERT_EQ(4u, all.size());
    EXPECT_EQ(first[0].strFileName, all[3].strFileName);
    EXPECT_EQ(nErrors + 1, m_reports.Count(strPics, TaskStatusError));
    ExpectSameTree(strPics);
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {}));
}

TEST_F(FolderDispatchTest, ADeepTreeWithUnusualNamesArrivesAsItIsOnDisk) {
    ASSERT_TRUE(Login());
    const std::string strTree = FolderPath("tree");
    // names are unique across the tree, so each dispatch tells which file it was
    const char* files[] = {
        "tree/top file.txt",
        "tree/level one/\xC3\xA4 \xC3\xB6 \xC3\xBC.txt",
        "tree/level one/a+b & c=d%25 #1.txt",
        "tree/level one/\xE4\xBA\x8C\xE7\xBA\xA7/\xE6\x96\x87\xE4\xBB\xB6 3.bin",
        "tree/level one/\xE4\xBA\x8C\xE7\xBA\xA7/deep est/x.bin",
        "tree/level one/\xE4\xBA\x8C\xE7\xBA\xA7/deep est/more/y.bin",
        "tree/level one/\xE4\xBA\x8C\xE7\xBA\xA7/deep est/more/z.bin",
        "tree/other/f1.bin",
        "tree/other/sub dir/f2.bin",
        "tree/other/sub dir/f3.bin",
    };
    unsigned nSeed = 20;
    for (const char* pName : files)
        MakeFile(pName, nSeed == 24 ? kMiB + 300 : 2000 + nSeed, nSeed), ++nSeed;
    ASSERT_TRUE(Utils::CreateDir(strTree + "/empty dir/inside"));
    const std::string strT = LoginManager::GetTarget();
    UploadManager::SetMaxUploadCount(3);
    ASSERT_TRUE(UploadManager::UploadFolder(strTree, strT, ISPTypeAuto, true));
    ASSERT_TRUE(WaitForStatus(strTree, TaskStatusSucceed));
    ExpectSameTree(strTree);

    // every dispatch leads to the file's own folder; each folder is named by one file only
    RemoteTree remote = Remote();
    std::map<std::string, std::string> dirOf;  // file name -> its folder, relative
    for (const char* pName : files)
        dirOf[Utils::GetFileName(pName)] = Utils::GetParentDir(pName);
    std::map<std::string, int> claims;
    std::vector<Dispatch> sent = Dispatches();
    EXPECT_EQ(sizeof(files) / sizeof(files[0]), sent.size());
    for (const Dispatch& dispatch : sent) {
        SCOPED_TRACE(dispatch.strFileName);
        ASSERT_TRUE(dirOf.count(dispatch.strFileName));
        const std::string& strDir = dirOf[dispatch.strFileName];
        ASSERT_TRUE(remote.pathOfTarget.count(dispatch.strTarget)) << dispatch.strTarget;
        const std::string& strBase = remote.pathOfTarget[dispatch.strTarget];
        std::string strWhere = strBase.empty()            ? dispatch.strPath
                               : dispatch.strPath.empty() ? strBase
                                                          : strBase + "/" + dispatch.strPath;
        EXPECT_EQ(strDir, strWhere);
        if (strDir == "tree")
            EXPECT_EQ(strT, dispatch.strTarget);
        else if (!dispatch.strPath.empty())
            ++claims[strDir];
    }
    for (const auto& claim : claims)
        EXPECT_EQ(1, claim.second) << claim.first;
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {}));
}

class FolderListingTest : public FolderTest {
protected:
    // A folder of nFiles one-byte files in folders of 400, quick to make and slow to list.
    std::string MakeMany(const std::string& strName, int nFiles) {
        const std::string strMany = FolderPath(strName);
        for (int i = 0; i < nFiles; ++i) {
            const std::string strDir = strMany + "/d" + std::to_string(i / 400);
            if (i % 400 == 0)
                Utils::CreateDir(strDir);
            velmotest::WriteFile(strDir + "/f" + std::to_string(i), "x");
        }
        return strMany;
    }
    // The folder ends in error with strMessage as its own entry, and nothing was sent.
    void ExpectFolderError(const std::string& strFolder, const std::string& strMessage) {
        SCOPED_TRACE(strFolder);
        ASSERT_TRUE(
            UploadManager::UploadFolder(strFolder, LoginManager::GetTarget(), ISPTypeAuto, true));
        ASSERT_TRUE(WaitForStatus(strFolder, TaskStatusError));
        ErrorList errors;
        FolderManager::LoadUnfinishTask(strFolder, errors);
        EXPECT_EQ(1u, errors.size());
        EXPECT_EQ(strMessage, errors[strFolder]);
        EXPECT_TRUE(m_reports.Last(strFolder).isFolder);
        EXPECT_EQ(0, UploadManager::GetTaskCount());
        EXPECT_TRUE(Dispatches().empty());
    }
};

TEST_F(FolderListingTest, AFolderWithNothingToSendOrThatCannotBeListedEndsInError) {
    ASSERT_TRUE(Login());
    ASSERT_TRUE(Utils::CreateDir(FolderPath("only dirs/a/b")));
    ASSERT_TRUE(Utils::CreateDir(FolderPath("only dirs/c")));
    ASSERT_TRUE(Utils::CreateDir(FolderPath("bare")));
    // as root a folder without permissions still lists, so these are paths no listing can read
    const std::pair<std::string, std::string> cases[] = {
        {FolderPath("only dirs"), Gbk("空文件夹不能上传")},
        {FolderPath("bare"), Gbk("空文件夹不能上传")},
        {MakeFile("plain.bin", 100, 1), Gbk("获取文件夹列表失败")},
        {FolderPath("missing"), Gbk("获取文件夹列表失败")},
    };
    for (const auto& c : cases)
        ExpectFolderError(c.first, c.second);
    EXPECT_TRUE(Remote().folders.empty());
    if (geteuid() != 0) {
        const std::string strLocked = FolderPath("locked");
        MakeFile("locked/inside.bin", 100, 2);
        ASSERT_EQ(0, chmod(strLocked.c_str(), 0));
        ExpectFolderError(strLocked, Gbk("获取文件夹列表失败"));
        chmod(strLocked.c_str(), 0755);
    }
}

TEST_F(FolderListingTest, EntriesThatAreNotRegularFilesFailAndTheRestUploads) {
    ASSERT_TRUE(Login());
    const std::string strMixed = FolderPath("mixed");
    MakeFile("mixed/a.bin", 3000, 3);
    MakeFile("mixed/sub/b.bin", 4000, 4);
    const std::string strFifo = strMixed + "/sub/pipe";
    ASSERT_EQ(0, mkfifo(strFifo.c_str(), 0600));
    const std::string strDangling = strMixed + "/gone";
    ASSERT_EQ(0, symlink((strMixed + "/nowhere").c_str(), strDangling.c_str()));
    const std::string strDevice = strMixed + "/zero";
    ASSERT_EQ(0, symlink("/dev/zero", strDevice.c_str()));

    ASSERT_TRUE(
        UploadManager::UploadFolder(strMixed, LoginManager::GetTarget(), ISPTypeAuto, true));
    ASSERT_TRUE(WaitForStatus(strMixed, TaskStatusError));
    ErrorList errors;
    FolderManager::LoadUnfinishTask(strMixed, errors);
    EXPECT_EQ((ErrorList{{strDangling, Gbk("不是普通文件，无法上传")},
                         {strDevice, Gbk("不是普通文件，无法上传")},
                         {strFifo, Gbk("不是普通文件，无法上传")}}),
              errors);
    std::map<std::string, std::string> uploaded = {
        {"mixed/a.bin", enginetest::FileSha1(strMixed + "/a.bin")},
        {"mixed/sub/b.bin", enginetest::FileSha1(strMixed + "/sub/b.bin")}};
    EXPECT_EQ(uploaded, Remote().files);
    EXPECT_EQ(2u, Dispatches().size());

    // starting it again tries nothing: the failed entries still cannot be read
    const int nErrors = m_reports.Count(strMixed, TaskStatusError);
    ASSERT_TRUE(
        UploadManager::UploadFolder(strMixed, LoginManager::GetTarget(), ISPTypeAuto, true));
    ASSERT_TRUE(WaitForCount(strMixed, TaskStatusError, nErrors + 1));
    EXPECT_EQ(2u, Dispatches().size());
    ErrorList again;
    FolderManager::LoadUnfinishTask(strMixed, again);
    EXPECT_EQ(errors, again) << "a folder with failed entries is not empty";
}

TEST_F(FolderListingTest, AFolderAddedAgainWhileItIsListedIsNotAnEmptyFolder) {
    ASSERT_TRUE(Login());
    const int nFiles = 4000;
    const std::string strMany = MakeMany("many", nFiles);
    // both stopped; the second call comes while the first one's listing is still running
    const std::string strT = LoginManager::GetTarget();
    ASSERT_TRUE(UploadManager::UploadFolder(strMany, strT, ISPTypeAuto, false));
    ASSERT_TRUE(WaitForStatus(strMany, TaskStatusStop));  // registered, now being listed
    ASSERT_TRUE(UploadManager::UploadFolder(strMany, strT, ISPTypeAuto, false));
    ASSERT_TRUE(velmotest::waitFor([] { return velmotest::ThreadsNamed("velmo-folder") == 0; },
                                   std::chrono::seconds(30)));
    long long nTotal = 0, nUploaded = 0;
    std::string strTarget;
    std::vector<std::string> files;
    ResumeManager::GetFolderResumeInfo(strMany, nTotal, nUploaded, strTarget, files);
    EXPECT_EQ(static_cast<size_t>(nFiles), files.size());
    UploadManager::CancelTask(strMany);
    ASSERT_TRUE(WaitForStatus(strMany, TaskStatusCancel));
    for (const enginetest::Report& report : m_reports.All())
        EXPECT_NE(TaskStatusError, report.status) << report.strFilePath;
}

TEST_F(FolderListingTest, AFolderStillBeingListedAtLogoutStaysWithItsUser) {
    ASSERT_TRUE(Login("alice", "wonderland"));
    const std::string strMany = MakeMany("many", 4000);
    ASSERT_TRUE(UploadManager::UploadFolder(strMany, LoginManager::GetTarget(), ISPTypeAuto, true));
    Logout();
    const size_t nBefore = m_reports.Size();
    ASSERT_TRUE(Login("bob", "builder"));
    ASSERT_TRUE(velmotest::waitFor([] { return velmotest::ThreadsNamed("velmo-folder") == 0; },
                                   std::chrono::seconds(30)));
    EXPECT_EQ(0, UploadManager::GetTaskCount());
    EXPECT_EQ(nullptr, FolderManager::GetTask(strMany));
    std::vector<std::string> paths;
    ASSERT_TRUE(ResumeManager::GetResumePaths(paths));
    EXPECT_TRUE(paths.empty()) << paths.size() << " of alice's files in bob's store";
    const std::vector<enginetest::Report> all = m_reports.All();
    for (size_t i = nBefore; i < all.size(); ++i)
        EXPECT_NE(0u, all[i].strFilePath.find(strMany)) << "bob was shown " << all[i].strFilePath;
    EXPECT_TRUE(Dispatches().empty());
}
}  // namespace
