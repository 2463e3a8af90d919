#include "platform/thread.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/windowthread.h"

namespace {

using stubframework::platform::Event;

TEST(EventTest, ManualResetStaysSignalledUntilReset) {
    Event event(true);
    EXPECT_FALSE(event.Wait(10));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(0));
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
    Event event(false);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            event.Wait();
            ++released;
        });
    }
    const auto waitFor = [&](int count) {
        while (released.load() < count) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return released.load();
    };
    for (int round = 1; round <= 3; ++round) {
        event.Set();
        EXPECT_EQ(waitFor(round), round);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(released.load(), round);  // one Set, one waiter
    }
    for (auto& waiter : waiters) {
        waiter.join();
    }
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(0));
}

TEST(ThreadPoolTest, RunsQueuedWorkOnOtherThreads) {
    Event done(true);
    std::atomic<int> count{0};
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> otherThread{true};
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(stubframework::platform::QueueWorkItem([&] {
            otherThread = otherThread && std::this_thread::get_id() != caller;
            if (++count == 20) {
                done.Set();
            }
        }));
    }
    EXPECT_TRUE(done.Wait(stubtest::kNoTimeLimitMs));
    EXPECT_TRUE(otherThread.load());
}

TEST(ErrorTest, SystemErrorsBecomeWin32HResults) {
    using namespace stubframework::platform;
    EXPECT_EQ(static_cast<std::uint32_t>(HResultFromWin32(112)), 0x80070070u);
    EXPECT_EQ(static_cast<std::uint32_t>(HResultFromWin32(0x12345)), 0x80072345u);
    EXPECT_EQ(Win32ErrorFromErrno(ENOSPC), 112u);
    EXPECT_EQ(Win32ErrorFromErrno(EACCES), 5u);
    EXPECT_EQ(Win32ErrorFromErrno(ENOENT), 2u);
    EXPECT_EQ(Win32ErrorFromErrno(EROFS), 19u);
}

// An exit path waits on a window thread that has closed: nothing can come,
// and the wait must not spin (a spinning wait asks thousands of times).
TEST(WindowThreadTest, AWaitOnAClosedWindowThreadSleepsUntilItsEnd) {
    stubframework::platform::OpenWindowThread();
    stubframework::platform::CloseWindowThread();
    int asked = 0;
    EXPECT_FALSE(stubframework::platform::PumpWindowThreadUntil(
        [&] {
            ++asked;
            return false;
        },
        100));
    EXPECT_LT(asked, 1000);
}

}  // namespace
