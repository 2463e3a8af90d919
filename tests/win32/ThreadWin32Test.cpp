// The shared pool over QueueUserWorkItem: a work item is a thread entry
// point of the system's pool.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/thread.h"
#include "support/TestFolder.h"

namespace {

using stubframework::platform::Event;
using stubframework::platform::QueueWorkItem;

// Sets the event while an exception unwinds past it: with no handler to
// find, the exception ends the process without unwinding at all.
struct SetOnUnwind {
    Event& unwound;
    ~SetOnUnwind() { unwound.Set(); }
};

TEST(ThreadPoolWin32Test, AThrowingItemEndsOnlyItself) {
    Event unwound(true);
    ASSERT_TRUE(QueueWorkItem([&] {
        const SetOnUnwind guard{unwound};
        throw std::runtime_error("lost");
    }));
    EXPECT_TRUE(unwound.Wait(stubtest::kNoTimeLimitMs));
    Event done(true);
    ASSERT_TRUE(QueueWorkItem([&] { done.Set(); }));
    EXPECT_TRUE(done.Wait(stubtest::kNoTimeLimitMs));
}

}  // namespace
