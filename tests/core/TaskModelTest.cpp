// The shared records: defaults, ownership of the open file, the status rule and the summary.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include "TestHome.h"
#include "Velmoupload.h"

using namespace _VelmoUpload;

namespace {

class TaskModelTest : public velmotest::TempHomeTest {};

TEST_F(TaskModelTest, EnumerationValuesAreFixed) {
    // stored in resume files and sent to the service: a renumbering would corrupt both
    EXPECT_EQ(0, TaskStatusInit);
    EXPECT_EQ(1, TaskStatusHash);
    EXPECT_EQ(2, TaskStatusUpload);
    EXPECT_EQ(3, TaskStatusStop);
    EXPECT_EQ(4, TaskStatusError);
    EXPECT_EQ(5, TaskStatusSucceed);
    EXPECT_EQ(6, TaskStatusCancel);
    EXPECT_EQ(0, ISPTypeAuto);
    EXPECT_EQ(1, ISPTypeTel);
    EXPECT_EQ(2, ISPTypeCnc);
    EXPECT_EQ(0, HashTypeSHA1);
    EXPECT_EQ(1, HashTypeMDVelmo);
    EXPECT_EQ(2, HashTypeALL);
    EXPECT_EQ(4u, sizeof(TaskStatus));
}

TEST_F(TaskModelTest, FreshRecordsAreEmpty) {
    TaskInfo task;
    EXPECT_EQ(TaskStatusInit, task.status);
    EXPECT_EQ(ISPTypeAuto, task.ispType);
    EXPECT_EQ(0, task.nFileSize);
    EXPECT_EQ(0, task.nUploadSize);
    EXPECT_EQ(0, task.nMaxUploadSize);
    EXPECT_EQ(0, task.nErrorCode);
    EXPECT_FALSE(task.bFlashUpload);
    EXPECT_EQ(0.0, task.fHashPercent);
    EXPECT_EQ(nullptr, task.pUploadInfo);
    EXPECT_TRUE(task.strFilePath.empty() && task.strFileHash.empty() && task.strPickCode.empty() &&
                task.strTarget.empty() && task.strErrorMsg.empty());

    FolderTaskInfo folder;
    EXPECT_EQ(TaskStatusInit, folder.status);
    EXPECT_EQ(0, folder.nFileCount + folder.nFinishCount + folder.nErrorCount + folder.nErrorCode);
    EXPECT_EQ(0, folder.tBeginTime + folder.nTotalSize + folder.nUploadSize +
                     folder.nCurUploadSize + folder.nMaxUploadSize);
    EXPECT_TRUE(folder.fileList.empty() && folder.errorList.empty() &&
                folder.folderTargetList.empty());

    ResumeInfo resume;
    EXPECT_EQ(0, resume.nFileSize + resume.nUploadSize + resume.ispType);
}

static int CountOpenDescriptors() {
    int nCount = 0;
    for (int fd = 0; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) != -1)
            ++nCount;
    return nCount;
}

TEST_F(TaskModelTest, DestroyingATaskClosesItsFileOnce) {
    std::string strPath = m_strWork + "/piece.bin";
    velmotest::WriteFile(strPath, "data");
    int nBefore = CountOpenDescriptors();
    {
        PTaskInfo pTask = new TaskInfo;
        pTask->pUploadInfo = new UploadInfo;
        pTask->pUploadInfo->pFile = fopen(strPath.c_str(), "rb");
        ASSERT_NE(nullptr, pTask->pUploadInfo->pFile);
        EXPECT_EQ(nBefore + 1, CountOpenDescriptors());
        delete pTask;  // a double fclose would abort here under the sanitizers
    }
    EXPECT_EQ(nBefore, CountOpenDescriptors());

    // a task without transfer state, or with one that never opened its file, closes nothing
    delete new TaskInfo;
    PTaskInfo pTask = new TaskInfo;
    pTask->pUploadInfo = new UploadInfo;
    delete pTask;
    EXPECT_EQ(nBefore, CountOpenDescriptors());
}

TEST_F(TaskModelTest, StoppedOrCancelledTasksNeverRunAgain) {
    for (TaskStatus from : {TaskStatusStop, TaskStatusCancel}) {
        EXPECT_FALSE(IsStatusChangeAllowed(from, TaskStatusHash));
        EXPECT_FALSE(IsStatusChangeAllowed(from, TaskStatusUpload));
        EXPECT_TRUE(IsStatusChangeAllowed(from, TaskStatusError));
        EXPECT_TRUE(IsStatusChangeAllowed(from, TaskStatusInit));
        EXPECT_TRUE(IsStatusChangeAllowed(from, TaskStatusSucceed));
    }
    EXPECT_TRUE(IsStatusChangeAllowed(TaskStatusError, TaskStatusStop));
    EXPECT_TRUE(IsStatusChangeAllowed(TaskStatusStop, TaskStatusCancel));
    EXPECT_TRUE(IsStatusChangeAllowed(TaskStatusInit, TaskStatusHash));
    EXPECT_TRUE(IsStatusChangeAllowed(TaskStatusHash, TaskStatusUpload));
    EXPECT_TRUE(IsStatusChangeAllowed(TaskStatusError, TaskStatusUpload));
}

TEST_F(TaskModelTest, SummaryText) {
    EXPECT_EQ("0,0,0,00:00:00", MakeTaskSummary(0, 0, 0, 0));
    EXPECT_EQ("3,5368709120,1048576,100:00:05", MakeTaskSummary(3, 5368709120LL, 1048576, 360005));
    EXPECT_EQ("linux_1.0.1026.4", GetPluginVersion());
}

}  // namespace
