// The header's event on every system: the standard library's mutex and
// condition variable, with a Windows event's manual and automatic reset.
#include <chrono>

#include "platform/thread.h"

namespace stubframework::platform {

Event::Event(bool manualReset, bool initiallySet) : manualReset_(manualReset), set_(initiallySet) {}

void Event::Set() {
    // Notify under the lock: a waiter that wakes may destroy the event at
    // once, as callers of a Windows event are used to doing.
    const std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    if (manualReset_) {
        signalled_.notify_all();
    } else {
        signalled_.notify_one();
    }
}

void Event::Reset() {
    const std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
}

bool Event::Wait(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto isSet = [this] { return set_; };
    if (timeoutMs == kInfinite) {
        signalled_.wait(lock, isSet);
    } else if (!signalled_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet)) {
        return false;
    }
    if (!manualReset_) {
        set_ = false;
    }
    return true;
}

}  // namespace stubframework::platform
