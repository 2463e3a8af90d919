// Threads and synchronisation the core needs beyond the standard library:
// a Windows-style event and a small shared thread pool.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace stubframework::platform {

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// A manual-reset event stays signalled until Reset; an auto-reset event
// releases exactly one waiter and clears itself.
class Event {
public:
    explicit Event(bool manualReset, bool initiallySet = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled within the time-out (kInfinite waits forever).
    bool Wait(std::uint32_t timeoutMs = kInfinite);

private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    const bool manualReset_;
    bool set_;
};

// QueueUserWorkItem: runs the function on a shared pool thread. False when
// the work could not be queued.
bool QueueWorkItem(std::function<void()> work);

}  // namespace stubframework::platform
