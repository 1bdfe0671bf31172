// The headless client's parts that need no service: the progress texts and how the task board
// reads the engine's reports.
#include <gtest/gtest.h>

#include "upload/ProgressFormat.h"
#include "upload/TaskBoard.h"

namespace clitest {
namespace {

using namespace velmocli;

ProgressReport ReportOf(const std::string& strPath, int status) {
    ProgressReport report;
    report.strFilePath = strPath;
    report.strFileName = strPath.substr(strPath.rfind('/') + 1);
    report.status = status;
    report.strTaskInfo = "1,10,0,00:00:00";
    return report;
}

TEST(ProgressLinesTest, CutByCharactersAndNeverPastAHundredPercent) {
    // six three-byte characters
    EXPECT_EQ("文件...", FitColumns("文件名很长的", 5));
    EXPECT_EQ("文件名很长的", FitColumns("文件名很长的", 6));
    EXPECT_EQ("..", FitColumns("abcdef", 2));
    ProgressReport report = ReportOf("/x/f.bin", 2);
    report.nFileSize = 1000;
    report.nUploadSize = 1500;  // counted ahead of the service's offset
    EXPECT_EQ(0u, RunningLine(report).find("f.bin  100% of"));
}

TEST(TaskBoardTest, EndedTasksStayEndedAndOtherPathsAreIgnored) {
    TaskBoard board;
    ASSERT_TRUE(board.Add("a", "/w/a"));
    EXPECT_FALSE(board.Add("./a", "/w/a"));  // named twice: one task
    EXPECT_FALSE(board.Apply(ReportOf("/elsewhere", 3)));
    board.Apply(ReportOf("/w/a", 2));
    ASSERT_EQ(1u, board.Running().size());
    board.Apply(ReportOf("/w/a", 5));
    board.Apply(ReportOf("/w/a", 3));  // a late stop changes nothing
    EXPECT_TRUE(board.Running().empty());
    EXPECT_TRUE(board.AllSucceeded());
    EXPECT_EQ(std::vector<std::string>{"OK a"}, board.FinalLines());
}

}  // namespace
}  // namespace clitest
