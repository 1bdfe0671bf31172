// A first file through the whole engine: queued, hashed, dispatched, sent in pieces, stored.
#include <gtest/gtest.h>

#include "EngineFixture.h"
#include "TestHome.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

class UploadSmokeTest : public EngineTest {};

TEST_F(UploadSmokeTest, AFileArrivesByteForByte) {
    ASSERT_TRUE(Login());
    std::string strPath = MakeFile("three.bin", 3 * 1048576 + 5);
    ASSERT_TRUE(
        UploadManager::StartTask(strPath, LoginManager::GetTarget(), ISPTypeAuto, "", "", true));
    ASSERT_TRUE(WaitForStatus(strPath, TaskStatusSucceed)) << m_reports.Last(strPath).nErrorCode;
    std::string strStored = StoredContent(FileSha1(strPath));
    ASSERT_FALSE(strStored.empty());
    EXPECT_EQ(velmotest::ReadFile(strPath), velmotest::ReadFile(strStored));
}

}  // namespace
