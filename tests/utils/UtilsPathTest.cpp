// Paths and folders: the configuration folder, "mkdir -p" and listing a folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "TestHome.h"
#include "utils/Utils.h"

using _VelmoUpload::Utils;
using velmotest::WriteFile;

namespace {

class UtilsPathTest : public velmotest::TempHomeTest {};

TEST_F(UtilsPathTest, ConfigFolderLivesUnderHome) {
    std::string strFolder = "untouched";
    ASSERT_TRUE(Utils::GetConfigFolder(strFolder));
    EXPECT_EQ(m_strHome + "/.Vurozudeduz/upload/", strFolder);
    EXPECT_FALSE(Utils::IsExist(strFolder)) << "asking for the folder must not create it";
    // without HOME, the account's home
    unsetenv("HOME");
    Utils::ResetConfigFolder();
    ASSERT_TRUE(Utils::GetConfigFolder(strFolder));
    EXPECT_EQ('/', strFolder[0]);
    EXPECT_NE(std::string::npos, strFolder.find("/.Vurozudeduz/upload/", 1));
}

// The folder suites list trees of odd names; hidden files and what a listing adds to are this
// case's part.
TEST_F(UtilsPathTest, ListDirAddsEveryFileOnceHiddenOnesToo) {
    std::string strRoot = m_strWork + "/a b;c & d";
    ASSERT_TRUE(Utils::CreateDir(strRoot + "/one/two/"));
    ASSERT_TRUE(Utils::CreateDir(strRoot + "/empty"));
    WriteFile(strRoot + "/.hidden", "2");
    WriteFile(strRoot + "/one/two/deep.txt", "4");
    ASSERT_EQ(0, symlink("/nonexistent/target", (strRoot + "/one/dangling").c_str()));
    // an existing file counts as there and is left as it is; below it nothing can be made
    EXPECT_TRUE(Utils::CreateDir(strRoot + "/.hidden"));
    EXPECT_EQ("2", velmotest::ReadFile(strRoot + "/.hidden"));
    EXPECT_FALSE(Utils::CreateDir(strRoot + "/.hidden/sub"));

    std::vector<std::string> fileList = {"already/there"};
    ASSERT_TRUE(Utils::ListDir(strRoot, fileList));
    std::sort(fileList.begin(), fileList.end());
    std::vector<std::string> expected = {"already/there", strRoot + "/.hidden",
                                         strRoot + "/one/dangling", strRoot + "/one/two/deep.txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, fileList);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Utils::ListDir(strRoot + "/.hidden", fileList));
    EXPECT_FALSE(Utils::ListDir(m_strWork + "/missing", fileList));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(4u, fileList.size());
}

}  // namespace
