// Eight uploads at once of files big and small, while the user starts, stops and cancels them
// and logs out and in: afterwards nothing is stuck, the registry is empty and its totals are
// back to zero, and every file that succeeded is on the service byte for byte. Runs for
// VELMO_CHURN_SECONDS (short in the test run; scripts/churn.sh runs it long under TSan and ASan).
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>

#include "EngineFixture.h"
#include "TestHome.h"
#include "WaitFor.h"
#include "utils/Utils.h"

using namespace enginetest;
using namespace _VelmoUpload;

namespace {

const long long kMiB = 1048576;

class ChurnTest : public EngineTest {
protected:
    std::vector<std::string> StandinArgs() const override {
        return {"--user", "alice:wonderland", "--quota", "100000000000"};
    }
};

TEST_F(ChurnTest, EightUploadsWhileTasksAreStoppedStartedCancelledAndTheUserComesAndGoes) {
    const char* pszSeconds = getenv("VELMO_CHURN_SECONDS");
    const int nSeconds = pszSeconds && atoi(pszSeconds) > 0 ? atoi(pszSeconds) : 12;
    std::mt19937 rng(nSeconds);
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        // mostly small, some of a few pieces
        long long nSize = i % 8 == 0 ? 2 * kMiB + i : 1000 + static_cast<long long>(rng() % 60000);
        files.push_back(
            MakeFile("churn/f" + std::to_string(i), nSize, static_cast<unsigned>(200 + i)));
    }
    ASSERT_TRUE(Login());
    UploadManager::SetMaxUploadCount(8);
    // slow pieces keep several uploads under way at each moment
    Fault("action=stall&on=piece&seconds=0.05&count=100000");

    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
    auto tNextLogout = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int nLogouts = 0, nActions = 0;
    while (std::chrono::steady_clock::now() < tEnd) {
        const std::string& strPath = files[rng() % files.size()];
        switch (rng() % 6) {
            case 0:
            case 1:
            case 2:
                StartFile(strPath);
                break;
            case 3:
                UploadManager::StopTask(strPath, true, TaskStatusStop);
                break;
            case 4:
                UploadManager::CancelTask(strPath);
                break;
            default:
                UploadManager::StopAllTask(true);
                break;
        }
        ++nActions;
        if (std::chrono::steady_clock::now() >= tNextLogout) {
            UploadManager::UnInitialize();
            LoginManager::Logout();
            ASSERT_TRUE(Login());
            UploadManager::SetMaxUploadCount(8);
            ++nLogouts;
            tNextLogout = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 40));
    }

    // the churn ends; everything still wanted runs to its end
    ClearFaults();
    for (const std::string& strPath : files)
        StartFile(strPath);
    ASSERT_TRUE(WaitForIdle(std::chrono::seconds(120)))
        << UploadManager::GetTaskCount() << " tasks, " << UploadManager::GetRunningCount()
        << " running";
    EXPECT_EQ(0, UploadManager::GetRunningCount());
    // the registry's totals came back to nothing: a lone upload's running report counts it
    // alone ("1,<its size>,...")
    const std::string strLast = MakeFile("churn/last", 3 * kMiB, 999);
    Fault("action=stall&on=piece&seconds=1&count=3");
    ASSERT_TRUE(StartFile(strLast));
    ASSERT_TRUE(velmotest::waitFor([&] { return !m_reports.Running(strLast).empty(); },
                                   std::chrono::seconds(30)));
    EXPECT_EQ(0u, m_reports.Running(strLast).back().strTaskInfo.find(
                      "1," + std::to_string(3 * kMiB) + ","))
        << m_reports.Running(strLast).back().strTaskInfo;
    ASSERT_TRUE(WaitForStatus(strLast, TaskStatusSucceed));

    int nSucceeded = 0;
    for (const std::string& strPath : files) {
        if (m_reports.Count(strPath, TaskStatusSucceed) == 0)
            continue;
        ++nSucceeded;
        ExpectStored(strPath);
    }
    EXPECT_EQ(static_cast<int>(files.size()), nSucceeded) << "started again at the end, all end";
    RecordProperty("actions", nActions);
    RecordProperty("logouts", nLogouts);
}

}  // namespace
