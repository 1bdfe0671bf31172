// Where each file of a folder goes: the relative path and target of every dispatch, files held
// back while their directory (or one above it) is being created, a failed creation handed to
// the next file, and whole trees arriving on the service as they are on disk.
#include <gtest/gtest.h>

#include "FolderFixture.h"
#include "core/FolderManager.h"
#include "utils/Utils.h"

using namespace foldertest;
using namespace _VelmoUpload;

namespace {

const long long kMiB = 1048576;

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

}  // namespace
