#include "platform/win32/Win32.h"
// After windows.h:
#include <chrono>
#include <memory>

#include "platform/thread.h"

namespace stubframework::platform {

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
