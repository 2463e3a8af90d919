// The state word of a task: not started (-1), then a count of the code paths
// working inside the task (holds) and a finishing bit. Once the finishing
// bit is set no new hold is granted, and when the last hold goes the task is
// interrupted exactly once. The first Finish decides the result.
#pragma once

#include <cstdint>
#include <mutex>

#include "downloader/TaskModel.h"

namespace downloader {

template <class T>
class TaskLock {
public:
    static constexpr std::uint32_t kFinishing = 0x80000000u;

protected:
    // Start entry: the first Start takes the first hold. False when the
    // task was started before.
    bool StartEntry() {
        const std::lock_guard<std::recursive_mutex> guard(lock_);
        if (state_ != -1) {
            return false;
        }
        state_ = 1;
        return true;
    }

    // A new hold, unless the task is finishing (or not started).
    bool Enter() {
        const std::lock_guard<std::recursive_mutex> guard(lock_);
        if (state_ < 0) {
            return false;
        }
        ++state_;
        return true;
    }

    void Leave() {
        const std::lock_guard<std::recursive_mutex> guard(lock_);
        const auto old = static_cast<std::uint32_t>(state_);
        state_ = static_cast<std::int32_t>(old - 1);
        if (old == (kFinishing | 1u)) {
            static_cast<T*>(this)->Interrupt();
        }
    }

    // Sets the finishing bit; the first call stores the result. Without a
    // hold the task is interrupted at once. Before Start nothing changes, so
    // a task cancelled before it started can still be started.
    void Finish(Result result) {
        const std::lock_guard<std::recursive_mutex> guard(lock_);
        const std::int32_t old = state_;
        state_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(old) | kFinishing);
        if (old >= 0) {
            result_ = result;
            if (old == 0) {
                static_cast<T*>(this)->Interrupt();
            }
        }
    }

    Result TaskResult() {
        const std::lock_guard<std::recursive_mutex> guard(lock_);
        return result_;
    }

private:
    std::recursive_mutex lock_;  // re-entrant: a child's end may come back inside Interrupt
    std::int32_t state_ = -1;
    Result result_ = kSuccess;
};

}  // namespace downloader
