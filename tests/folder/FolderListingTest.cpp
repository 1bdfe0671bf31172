// What a folder's listing can turn up: nothing to upload, no folder at all, entries that are
// not regular files, and the same folder added again while it is still being listed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FolderFixture.h"
#include "ThreadNames.h"
#include "WaitFor.h"
#include "core/FolderManager.h"
#include "core/ResumeManager.h"
#include "utils/Utils.h"

using namespace foldertest;
using namespace _VelmoUpload;

namespace {

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
    const std::pair<std::string, const char*> cases[] = {
        {FolderPath("only dirs"), kEmptyFolderGbk},
        {FolderPath("bare"), kEmptyFolderGbk},
        {MakeFile("plain.bin", 100, 1), kListFailedGbk},
        {FolderPath("missing"), kListFailedGbk},
    };
    for (const auto& c : cases)
        ExpectFolderError(c.first, c.second);
    EXPECT_TRUE(Remote().folders.empty());
    if (geteuid() != 0) {
        const std::string strLocked = FolderPath("locked");
        MakeFile("locked/inside.bin", 100, 2);
        ASSERT_EQ(0, chmod(strLocked.c_str(), 0));
        ExpectFolderError(strLocked, kListFailedGbk);
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
    EXPECT_EQ(
        (ErrorList{
            {strDangling, kNotRegularGbk}, {strDevice, kNotRegularGbk}, {strFifo, kNotRegularGbk}}),
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
