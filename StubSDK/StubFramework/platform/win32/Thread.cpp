#include "platform/win32/Win32.h"
// After windows.h:
#include <chrono>
#include <memory>

#include "platform/thread.h"

namespace stubframework::platform {

// The header's event is the standard library's mutex and condition variable
// on every system; only the pool differs.
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

namespace {

DWORD WINAPI RunWorkItem(void* context) {
    const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(context));
    // A pool thread is a thread entry point: nothing may escape it.
    try {
        (*work)();
    } catch (...) {
    }
    return 0;
}

}  // namespace

bool QueueWorkItem(std::function<void()> work) {
    if (!work) {
        return false;
    }
    auto item = std::make_unique<std::function<void()>>(std::move(work));
    // Items may run for long (a whole file's hashes): let the pool add threads.
    if (!QueueUserWorkItem(RunWorkItem, item.get(), WT_EXECUTELONGFUNCTION)) {
        return false;
    }
    item.release();  // RunWorkItem owns it now
    return true;
}

}  // namespace stubframework::platform
