// Where each file of a folder goes (relative path and target of every dispatch, files waiting for
// a directory in creation), and what a folder's listing can turn up.
#include <sys/stat.h>
#include <unistd.h>

#include "FolderFixture.h"
#include "core/FolderManager.h"

using namespace foldertest;
using namespace _VelmoUpload;

namespace {

class FolderDispatchTest : public FolderTest {
protected:
    // The service holds the local tree: each file once, and every folder holding one.
    void ExpectSameTree(const std::string& strFolder) {
        std::map<std::string, std::string> local = LocalTree(strFolder);
        RemoteTree remote = Remote();
        EXPECT_EQ(local, remote.files);
        std::set<std::string> folders;
        for (const auto& file : local)
            for (std::string strDir = Utils::GetParentDir(file.first); !strDir.empty();
                 strDir = Utils::GetParentDir(strDir))
                folders.insert(strDir);
        EXPECT_EQ(folders, remote.folders);
    }
    ErrorList FailedFiles(const std::string& strFolder) {
        ErrorList errors;
        FolderManager::LoadUnfinishTask(strFolder, errors);
        return errors;
    }
};

TEST_F(FolderDispatchTest, FilesBelowADirectoryInCreationWaitThenNameOnlyWhatIsMissing) {
    ASSERT_TRUE(Login());
    const std::string strPics = FolderPath("pics"), strT = LoginManager::GetTarget();
    // known from an earlier session, its files remembered in the order a start queues them,
    // so the dispatch order is fixed: the first claims 2012, the others meet it in creation
    for (const std::string& strPath :
         {MakeFile("pics/2012/x.jpg", 3000, 4), MakeFile("pics/2012/jan/d1/z.jpg", 3100, 5),
          MakeFile("pics/2012/jan/y.jpg", 3200, 6), MakeFile("pics/2012/w.jpg", 3300, 7)})
        ASSERT_TRUE(Remember(strPics, strPath, false)) << strPath;
    // a restart of the program with the login remembered: the store is written and read again
    UploadManager::UnInitialize();
    UploadManager::Initialize(&velmotest::ReportLog::Record, &m_reports);
    ASSERT_TRUE(WaitForStatus(strPics, TaskStatusStop));
    UploadManager::SetMaxUploadCount(4);
    Fault("action=stall&on=dispatch&seconds=1&count=1");
    ASSERT_TRUE(UploadFolder(strPics));
    ASSERT_TRUE(WaitForStatus(strPics, TaskStatusSucceed));

    // each file's dispatch: its name, target and the folders it names
    const std::string strYear = Remote().targetOf["pics/2012"];
    std::multiset<std::string> sent;
    for (const Dispatch& dispatch : Dispatches())
        sent.insert(dispatch.strFileName + " " + dispatch.strTarget + " " + dispatch.strPath);
    EXPECT_EQ((std::multiset<std::string>{"x.jpg " + strT + " pics/2012",
                                          "z.jpg " + strYear + " jan/d1",  // 2012 known: only jan
                                          "y.jpg " + strYear + " jan",     // and d1 are missing
                                          "w.jpg " + strYear + " "}),
              sent);
    ExpectSameTree(strPics);
}

TEST_F(FolderDispatchTest, AFailedClaimIsMadeAgainByTheNextFileAndARestartRetriesOnlyIt) {
    ASSERT_TRUE(Login());
    const std::string strPics = FolderPath("pics"), strT = LoginManager::GetTarget();
    MakeFile("pics/2012/x.jpg", 3000, 8);
    MakeFile("pics/2012/y.jpg", 3000, 9);
    UploadManager::SetMaxUploadCount(2);
    const std::string kRefuseOnce =
        "action=status&on=dispatch&statuscode=402&statusmsg=refused&count=1";
    Fault(kRefuseOnce);
    ASSERT_TRUE(UploadFolder(strPics));
    ASSERT_TRUE(WaitForStatus(strPics, TaskStatusError));
    // the refused claim of 2012 is made again by the other file, with the same relative path
    std::vector<Dispatch> sent = Dispatches();
    ASSERT_EQ(2u, sent.size());
    for (const Dispatch& dispatch : sent) {
        EXPECT_EQ(strT, dispatch.strTarget);
        EXPECT_EQ("pics/2012", dispatch.strPath);
    }
    const std::string strFailedName = sent[0].strFileName;
    EXPECT_EQ((ErrorList{{strPics + "/2012/" + strFailedName, "refused"}}), FailedFiles(strPics));

    // a retry that fails again ends the folder in error again, that file counted once
    Fault(kRefuseOnce);
    const int nErrors = m_reports.Count(strPics, TaskStatusError);
    ASSERT_TRUE(UploadFolder(strPics));
    ASSERT_TRUE(WaitForCount(strPics, TaskStatusError, nErrors + 1));
    sent = Dispatches();
    ASSERT_EQ(3u, sent.size());
    EXPECT_EQ(strFailedName, sent[2].strFileName);
    EXPECT_EQ(Remote().targetOf["pics/2012"], sent[2].strTarget);
    EXPECT_EQ("", sent[2].strPath);
    EXPECT_EQ(1u, FailedFiles(strPics).size());

    // and one that works completes the folder, sending nothing else again
    ASSERT_TRUE(UploadFolder(strPics));
    ASSERT_TRUE(WaitForStatus(strPics, TaskStatusSucceed));
    sent = Dispatches();
    ASSERT_EQ(4u, sent.size());
    EXPECT_EQ(strFailedName, sent[3].strFileName);
    EXPECT_EQ(nErrors + 1, m_reports.Count(strPics, TaskStatusError));
    ExpectSameTree(strPics);
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {}));
}

TEST_F(FolderDispatchTest, ADeepTreeWithUnusualNamesArrivesAsItIsOnDisk) {
    ASSERT_TRUE(Login());
    const std::string strTree = FolderPath("tree");
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
    for (unsigned i = 0; i < 10; ++i)
        MakeFile(files[i], i == 4 ? kMiB + 300 : 2020 + i, 20 + i);
    ASSERT_TRUE(Utils::CreateDir(strTree + "/empty dir/inside"));
    UploadManager::SetMaxUploadCount(3);
    ASSERT_TRUE(UploadFolder(strTree));
    ASSERT_TRUE(WaitForStatus(strTree, TaskStatusSucceed));
    ExpectSameTree(strTree);

    // one dispatch for each file: a name that came apart on the way would be a file of its own
    EXPECT_EQ(10u, Dispatches().size());
    EXPECT_TRUE(WaitForResumeFile(ResumeFile(), {}));
}

using FolderListingTest = FolderDispatchTest;

TEST_F(FolderListingTest, AFolderWithNothingToSendOrThatCannotBeListedEndsInError) {
    ASSERT_TRUE(Login());
    ASSERT_TRUE(Utils::CreateDir(FolderPath("only dirs/a/b")));
    ASSERT_TRUE(Utils::CreateDir(FolderPath("only dirs/c")));
    const std::pair<std::string, std::string> cases[] = {
        {FolderPath("only dirs"), Gbk("空文件夹不能上传")},
        {MakeFile("plain.bin", 100, 1), Gbk("获取文件夹列表失败")},
        {FolderPath("missing"), Gbk("获取文件夹列表失败")},
    };
    // each ends in error with the message as its own entry, and nothing is sent
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        ASSERT_TRUE(UploadFolder(c.first));
        ASSERT_TRUE(WaitForStatus(c.first, TaskStatusError));
        EXPECT_EQ((ErrorList{{c.first, c.second}}), FailedFiles(c.first));
        EXPECT_TRUE(m_reports.Last(c.first).isFolder);
        EXPECT_EQ(0, UploadManager::GetTaskCount());
    }
    EXPECT_TRUE(Dispatches().empty());
    EXPECT_TRUE(Remote().folders.empty());
}

TEST_F(FolderListingTest, EntriesThatAreNotRegularFilesFailAndTheRestUploads) {
    ASSERT_TRUE(Login());
    const std::string strMixed = FolderPath("mixed");
    MakeFile("mixed/a.bin", 3000, 3);
    MakeFile("mixed/sub/b.bin", 4000, 4);
    const std::string strFifo = strMixed + "/sub/pipe", strDangling = strMixed + "/gone",
                      strDevice = strMixed + "/zero";
    ASSERT_EQ(0, mkfifo(strFifo.c_str(), 0600));
    ASSERT_EQ(0, symlink((strMixed + "/nowhere").c_str(), strDangling.c_str()));
    ASSERT_EQ(0, symlink("/dev/zero", strDevice.c_str()));

    ASSERT_TRUE(UploadFolder(strMixed));
    ASSERT_TRUE(WaitForStatus(strMixed, TaskStatusError));
    const std::string strNotRegular = Gbk("不是普通文件，无法上传");
    const ErrorList errors = {
        {strDangling, strNotRegular}, {strDevice, strNotRegular}, {strFifo, strNotRegular}};
    EXPECT_EQ(errors, FailedFiles(strMixed));
    EXPECT_EQ(LocalTree(strMixed), Remote().files);
    EXPECT_EQ(2u, Dispatches().size());

    // starting it again tries nothing: the failed entries still cannot be read, and the folder
    // is not empty for them
    const int nErrors = m_reports.Count(strMixed, TaskStatusError);
    ASSERT_TRUE(UploadFolder(strMixed));
    ASSERT_TRUE(WaitForCount(strMixed, TaskStatusError, nErrors + 1));
    EXPECT_EQ(2u, Dispatches().size());
    EXPECT_EQ(errors, FailedFiles(strMixed));
}

TEST_F(FolderListingTest, AFolderAddedAgainOrLoggedOutWhileItIsListed) {
    ASSERT_TRUE(Login("alice", "wonderland"));
    // a folder of 4,000 one-byte files in folders of 400, quick to make and slow to list
    const std::string strMany = FolderPath("many");
    for (int i = 0; i < 4000; ++i) {
        const std::string strDir = strMany + "/d" + std::to_string(i / 400);
        if (i % 400 == 0)
            Utils::CreateDir(strDir);
        velmotest::WriteFile(strDir + "/f" + std::to_string(i), "x");
    }
    auto listingEnds = [] {
        return velmotest::waitFor([] { return velmotest::ThreadsNamed("velmo-folder") == 0; },
                                  std::chrono::seconds(30));
    };
    // both stopped; the second call comes while the first one's listing is still running, and
    // finds a folder that is not empty
    ASSERT_TRUE(UploadFolder(strMany, false));
    ASSERT_TRUE(WaitForStatus(strMany, TaskStatusStop));  // registered, now being listed
    ASSERT_TRUE(UploadFolder(strMany, false));
    ASSERT_TRUE(listingEnds());
    long long nTotal = 0, nUploaded = 0;
    std::string strTarget;
    std::vector<std::string> files;
    ResumeManager::GetFolderResumeInfo(strMany, nTotal, nUploaded, strTarget, files);
    EXPECT_EQ(4000u, files.size());
    UploadManager::CancelTask(strMany);
    ASSERT_TRUE(WaitForStatus(strMany, TaskStatusCancel));
    for (const enginetest::Report& report : m_reports.All())
        EXPECT_NE(TaskStatusError, report.status) << report.strFilePath;

    // a logout while it is listed: the folder stays with its user
    ASSERT_TRUE(UploadFolder(strMany));
    Logout();
    const size_t nBefore = m_reports.Size();
    ASSERT_TRUE(Login("bob", "builder"));
    ASSERT_TRUE(listingEnds());
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
