// Paths, files and folders: the configuration folder, sizes, listing and "mkdir -p".
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "TestHome.h"
#include "utils/Utils.h"

using _VelmoUpload::Utils;
using velmotest::WriteFile;

namespace {

class UtilsPathTest : public velmotest::TempHomeTest {};

TEST_F(UtilsPathTest, ConfigFolderLivesUnderHomeAndIsCached) {
    std::string strFolder = "untouched";
    ASSERT_TRUE(Utils::GetConfigFolder(strFolder));
    EXPECT_EQ(m_strHome + "/.Vurozudeduz/upload/", strFolder);
    EXPECT_FALSE(Utils::IsExist(strFolder)) << "asking for the folder must not create it";

    // the first answer stays, even when HOME moves afterwards
    setenv("HOME", "/elsewhere", 1);
    std::string strAgain;
    Utils::GetConfigFolder(strAgain);
    EXPECT_EQ(strFolder, strAgain);
}

TEST_F(UtilsPathTest, ConfigFolderWithoutHomeFallsBackToTheAccountsHome) {
    unsetenv("HOME");
    Utils::ResetConfigFolder();
    std::string strFolder;
    ASSERT_TRUE(Utils::GetConfigFolder(strFolder));
    ASSERT_GT(strFolder.size(), std::string("/.Vurozudeduz/upload/").size());
    EXPECT_EQ('/', strFolder[0]);
    EXPECT_EQ("/.Vurozudeduz/upload/",
              strFolder.substr(strFolder.size() - std::string("/.Vurozudeduz/upload/").size()));
}

TEST_F(UtilsPathTest, ExistenceDirectoriesAndSizes) {
    std::string strFile = m_strWork + "/f.bin";
    WriteFile(strFile, std::string(12345, 'x'));
    EXPECT_TRUE(Utils::IsExist(strFile));
    EXPECT_TRUE(Utils::IsExist(m_strWork));
    EXPECT_FALSE(Utils::IsExist(m_strWork + "/none"));
    EXPECT_TRUE(Utils::IsDir(m_strWork));
    EXPECT_FALSE(Utils::IsDir(strFile));
    EXPECT_FALSE(Utils::IsDir(m_strWork + "/none"));

    long long nSize = -1;
    ASSERT_TRUE(Utils::GetFileSize(strFile, nSize));
    EXPECT_EQ(12345, nSize);

    // a missing file fails silently and leaves the output alone
    nSize = 77;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Utils::GetFileSize(m_strWork + "/none", nSize));
    EXPECT_EQ("", testing::internal::GetCapturedStdout());
    EXPECT_EQ(77, nSize);

    // sizes past 4 GiB come through whole (sparse, so it costs nothing)
    std::string strBig = m_strWork + "/big.bin";
    WriteFile(strBig, "");
    ASSERT_EQ(0, truncate(strBig.c_str(), 5LL * 1024 * 1024 * 1024 + 3));
    ASSERT_TRUE(Utils::GetFileSize(strBig, nSize));
    EXPECT_EQ(5LL * 1024 * 1024 * 1024 + 3, nSize);

    FILE* pFile = Utils::FileOpenEx(strFile, "rb");
    ASSERT_NE(nullptr, pFile);
    fclose(pFile);
    EXPECT_EQ(nullptr, Utils::FileOpenEx(m_strWork + "/none", "rb"));
}

TEST_F(UtilsPathTest, NamePartsOfAPath) {
    EXPECT_EQ("b.txt", Utils::GetFileName("/a/b.txt"));
    EXPECT_EQ("b.txt", Utils::GetFileName("b.txt"));
    EXPECT_EQ("", Utils::GetFileName("/a/"));

    EXPECT_EQ("gz", Utils::GetFileExt("x.tar.gz"));
    EXPECT_EQ("", Utils::GetFileExt("x"));
    EXPECT_EQ("bashrc", Utils::GetFileExt(".bashrc"));
    EXPECT_EQ("d/x", Utils::GetFileExt("/a.d/x"));
    EXPECT_EQ("MP4", Utils::GetFileExt("Movie.MP4"));

    EXPECT_EQ("/a", Utils::GetParentDir("/a/b"));
    EXPECT_EQ("", Utils::GetParentDir("/a"));
    EXPECT_EQ("a/b", Utils::GetParentDir("a/b/"));
    EXPECT_EQ("", Utils::GetParentDir("b"));
}

TEST_F(UtilsPathTest, CreateDirMakesTheWholePath) {
    std::string strDeep = m_strWork + "/a b/c/d;e & f";
    ASSERT_TRUE(Utils::CreateDir(strDeep));
    EXPECT_TRUE(Utils::IsDir(m_strWork + "/a b"));
    EXPECT_TRUE(Utils::IsDir(m_strWork + "/a b/c"));
    EXPECT_TRUE(Utils::IsDir(strDeep));
    EXPECT_TRUE(Utils::CreateDir(strDeep + "/"));  // a trailing "/" is harmless

    // an existing file of that name counts as there, and is left as it is
    std::string strFile = m_strWork + "/plain";
    WriteFile(strFile, "keep");
    EXPECT_TRUE(Utils::CreateDir(strFile));
    EXPECT_EQ("keep", velmotest::ReadFile(strFile));

    // below a file nothing can be made
    EXPECT_FALSE(Utils::CreateDir(strFile + "/sub"));
}

TEST_F(UtilsPathTest, ListDirReturnsEveryFileBelowOnce) {
    std::string strRoot = m_strWork + "/tree";
    ASSERT_TRUE(Utils::CreateDir(strRoot + "/one/two"));
    ASSERT_TRUE(Utils::CreateDir(strRoot + "/empty"));
    WriteFile(strRoot + "/top.txt", "1");
    WriteFile(strRoot + "/.hidden", "2");
    WriteFile(strRoot + "/one/mid.txt", "3");
    WriteFile(strRoot + "/one/two/deep.txt", "4");
    ASSERT_EQ(0, symlink("/nonexistent/target", (strRoot + "/one/dangling").c_str()));

    std::vector<std::string> fileList = {"already/there"};
    ASSERT_TRUE(Utils::ListDir(strRoot, fileList));
    std::sort(fileList.begin(), fileList.end());
    std::vector<std::string> expected = {
        "already/there",          strRoot + "/.hidden",          strRoot + "/one/dangling",
        strRoot + "/one/mid.txt", strRoot + "/one/two/deep.txt", strRoot + "/top.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, fileList);

    // the path is joined as given, trailing "/" included
    std::vector<std::string> slashList;
    ASSERT_TRUE(Utils::ListDir(strRoot + "/one/two/", slashList));
    ASSERT_EQ(1u, slashList.size());
    EXPECT_EQ(strRoot + "/one/two//deep.txt", slashList[0]);
}

TEST_F(UtilsPathTest, ListDirSaysWhyItFails) {
    std::vector<std::string> fileList;
    std::string strFile = m_strWork + "/file";
    WriteFile(strFile, "x");

    testing::internal::CaptureStdout();
    EXPECT_FALSE(Utils::ListDir(strFile, fileList));
    EXPECT_EQ("not a dir, path=" + strFile + "\n", testing::internal::GetCapturedStdout());

    std::string strMissing = m_strWork + "/missing";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Utils::ListDir(strMissing, fileList));
    EXPECT_EQ("cannot stat path=" + strMissing + ", err:" + std::to_string(ENOENT) +
                  ", msg=" + strerror(ENOENT) + "\n",
              testing::internal::GetCapturedStdout());
    EXPECT_TRUE(fileList.empty());

    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every folder; the access case needs a user";
    std::string strLocked = m_strWork + "/locked";
    ASSERT_TRUE(Utils::CreateDir(strLocked));
    chmod(strLocked.c_str(), 0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Utils::ListDir(strLocked, fileList));
    EXPECT_EQ("cannot access path=" + strLocked + ", err:" + std::to_string(EACCES) +
                  ", msg=" + strerror(EACCES) + "\n",
              testing::internal::GetCapturedStdout());
    chmod(strLocked.c_str(), 0700);
}

}  // namespace
