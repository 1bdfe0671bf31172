// The headless client's parts that need no service: argument forms, the progress texts, and
// how the task board reads the engine's reports.
#include <gtest/gtest.h>
#include <unistd.h>

#include "upload/CliOptions.h"
#include "upload/InputPaths.h"
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

bool Parse(std::vector<std::string> vArgs, CliOptions& opts, std::string& strError) {
    vArgs.insert(vArgs.begin(), "velmoupload-cli");
    std::vector<char*> argv;
    for (std::string& s : vArgs)
        argv.push_back(&s[0]);
    return ParseCliOptions(static_cast<int>(argv.size()), argv.data(), opts, strError);
}

TEST(CliOptionsTest, ValuesInlineOrSeparateAndPathsAfterDoubleDash) {
    CliOptions opts;
    std::string strError;
    ASSERT_TRUE(Parse({"--jobs=3", "--server", "example.org:8080", "--user=bob", "--remember", "a",
                       "--", "-b", "--resume"},
                      opts, strError))
        << strError;
    EXPECT_EQ(3, opts.nJobs);
    EXPECT_EQ("example.org:8080", opts.strServer);
    EXPECT_EQ("bob", opts.strUser);
    EXPECT_TRUE(opts.bRemember);
    EXPECT_FALSE(opts.bResume);
    EXPECT_EQ((std::vector<std::string>{"a", "-b", "--resume"}), opts.paths);

    EXPECT_FALSE(Parse({"--remember", "a"}, opts, strError));  // nothing to remember
    EXPECT_FALSE(Parse({"--resume=yes"}, opts, strError));
    EXPECT_FALSE(Parse({"--server", ":80"}, opts, strError));
    EXPECT_FALSE(Parse({"--jobs", "65"}, opts, strError));
}

TEST(ProgressFormatTest, SummaryAndLinesAreReadAndCutSafely) {
    TaskSummary summary;
    ASSERT_TRUE(ParseTaskSummary("3,1048576,2048,01:02:03", summary));
    EXPECT_EQ(3, summary.nCount);
    EXPECT_EQ(1048576, summary.nTotalSize);
    EXPECT_EQ(2048, summary.nSpeed);
    EXPECT_EQ("01:02:03", summary.strTimeLeft);
    for (const char* pBad :
         {"", "1,2,3", "1,2,3,4,5", "a,2,3,00:00:01", "1,-2,3,00:00:01", "1,2,3,"}) {
        TaskSummary untouched;
        untouched.nCount = 42;
        EXPECT_FALSE(ParseTaskSummary(pBad, untouched)) << pBad;
        EXPECT_EQ(42, untouched.nCount) << pBad;
    }
    // by characters, never inside one: six three-byte characters
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
    ASSERT_TRUE(board.Add("b", "/w/b"));
    EXPECT_FALSE(board.Add("./a", "/w/a"));  // named twice: one task
    EXPECT_FALSE(board.Apply(ReportOf("/elsewhere", 3)));

    board.Apply(ReportOf("/w/a", 2));
    ASSERT_EQ(1u, board.Running().size());
    board.Apply(ReportOf("/w/a", 5));
    board.Apply(ReportOf("/w/a", 3));  // a late stop changes nothing
    EXPECT_TRUE(board.Running().empty());
    EXPECT_FALSE(board.AllDone());

    ProgressReport failed = ReportOf("/w/b", 4);
    failed.nErrorCode = 1000;
    failed.strErrorMsg = "\xBF\xD5\xCE\xC4\xBC\xFE\xB2\xBB\xC4\xDC\xC9\xCF\xB4\xAB";  // GBK
    board.Apply(failed);
    EXPECT_TRUE(board.AllDone());
    EXPECT_FALSE(board.AllSucceeded());
    EXPECT_EQ((std::vector<std::string>{"OK a", "FAILED b: 1000 空文件不能上传"}),
              board.FinalLines());
}

TEST(InputPathsTest, RelativePathsBecomeAbsoluteKeepingDotDot) {
    char cwd[4096];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof(cwd)));
    const std::string strCwd = std::string(cwd) == "/" ? "" : cwd;
    EXPECT_EQ(strCwd + "/a/b/c", AbsolutePath("./a//b/./c/"));
    EXPECT_EQ(strCwd + "/../x", AbsolutePath("../x"));
    EXPECT_EQ("/abs/x", AbsolutePath("/abs/./x"));
}

}  // namespace
}  // namespace clitest
