// The shared records: ownership of the open file and the summary text.
#include <gtest/gtest.h>
#include <fcntl.h>

#include "TestHome.h"
#include "Velmoupload.h"

using namespace _VelmoUpload;

namespace {

class TaskModelTest : public velmotest::TempHomeTest {};

int CountOpenDescriptors() {
    int nCount = 0;
    for (int fd = 0; fd < 1024; ++fd)
        nCount += fcntl(fd, F_GETFD) != -1 ? 1 : 0;
    return nCount;
}

TEST_F(TaskModelTest, DestroyingATaskClosesItsFileOnce) {
    std::string strPath = m_strWork + "/piece.bin";
    velmotest::WriteFile(strPath, "data");
    int nBefore = CountOpenDescriptors();
    PTaskInfo pTask = new TaskInfo;
    pTask->pUploadInfo = new UploadInfo;
    pTask->pUploadInfo->pFile = fopen(strPath.c_str(), "rb");
    ASSERT_NE(nullptr, pTask->pUploadInfo->pFile);
    delete pTask;  // a double fclose would abort here under the sanitizers
    EXPECT_EQ(nBefore, CountOpenDescriptors());
    // transfer state that never opened its file closes nothing
    pTask = new TaskInfo;
    pTask->pUploadInfo = new UploadInfo;
    delete pTask;
    EXPECT_EQ(nBefore, CountOpenDescriptors());
}

TEST(TaskSummaryTest, FiguresPast4GiBAndHundredsOfHours) {
    EXPECT_EQ("3,5368709120,1048576,100:00:05", MakeTaskSummary(3, 5368709120LL, 1048576, 360005));
}

}  // namespace
