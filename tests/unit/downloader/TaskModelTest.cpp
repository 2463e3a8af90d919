#include <gtest/gtest.h>

#include "core/InstallerLog.h"
#include "downloader/DownloadLogger.h"
#include "downloader/Object.h"
#include "downloader/TaskLock.h"
#include "support/TestFolder.h"

namespace {

using namespace downloader;

// The state word alone, with its interruptions counted.
class CountingTask : public TaskLock<CountingTask> {
public:
    void Interrupt() { ++interrupts; }
    using TaskLock::Enter;
    using TaskLock::Finish;
    using TaskLock::Leave;
    using TaskLock::StartEntry;
    using TaskLock::TaskResult;

    int interrupts = 0;
};

TEST(TaskLockTest, CancelBeforeStartLeavesTheTaskStartable) {
    CountingTask task;
    task.Finish(kDownloadCancelled);
    EXPECT_EQ(task.interrupts, 0);
    EXPECT_FALSE(task.Enter());
    ASSERT_TRUE(task.StartEntry());
    EXPECT_FALSE(task.StartEntry());
    task.Leave();
    task.Finish(kSuccess);
    EXPECT_EQ(task.TaskResult(), kSuccess);
    EXPECT_EQ(task.interrupts, 1);
}

TEST(TaskLockTest, InterruptWaitsForTheLastHoldAndTheFirstResultWins) {
    CountingTask task;
    ASSERT_TRUE(task.StartEntry());
    ASSERT_TRUE(task.Enter());  // a callback is inside the task
    task.Finish(kHttpCancelled);
    EXPECT_EQ(task.TaskResult(), kHttpCancelled);
    EXPECT_FALSE(task.Enter());  // no new hold once finishing
    task.Finish(kInvalidServerResponse);
    EXPECT_EQ(task.TaskResult(), kHttpCancelled);
    task.Leave();
    EXPECT_EQ(task.interrupts, 0);
    task.Leave();
    EXPECT_EQ(task.interrupts, 1);
}

TEST(TaskModelTest, ErrorsBecomeHResults) {
    EXPECT_EQ(ResultFromError(0), 0);
    EXPECT_EQ(ResultFromError(-5), -5);
    EXPECT_EQ(static_cast<std::uint32_t>(ResultFromError(12017)), 0x80072EF1u);
    EXPECT_EQ(static_cast<std::uint32_t>(ResultFromError(112)), 0x80070070u);
}

TEST(DownloadLoggerTest, WritesTraceLinesCutAt1023Characters) {
    stubtest::TestFolder temp;
    stubtest::ScopedEnv tmpdir("TMPDIR", temp.Path());
    const std::int64_t live = details::LiveObjects();
    {
        stubframework::debug::InstallerLog log;
        ILogger* logger = stubframework::debug::CreateDownloadLogger(&log);
        logger->Log("HttpTask::Open", "url %s", std::string(2000, 'u').c_str());
        logger->Release();
        ILogger* silent = stubframework::debug::CreateDownloadLogger(nullptr);
        silent->Log("HttpTask::Open", "nothing");
        silent->Release();
        const std::string content = stubtest::ReadFile(log.FilePath());
        EXPECT_NE(content.find("TRACE] HttpTask::Open> url uuu"), std::string::npos);
        EXPECT_EQ(content.size(),
                  std::string("[20261208 00:00:00   0 TRACE] HttpTask::Open> ").size() + 1023 + 2);
    }
    EXPECT_EQ(details::LiveObjects(), live);
}

}  // namespace
