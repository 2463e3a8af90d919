#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/windowthread.h"

namespace stubframework::platform {
namespace {

struct WindowThreadState {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> queue;
    std::thread::id owner;
    bool open = false;
    bool quit = false;
    std::function<void()> waker;
};

// Never destroyed: a thread that outlives main (the one that handles end
// requests) may still post while the process ends.
WindowThreadState& State() {
    static WindowThreadState& state = *std::make_unique<WindowThreadState>().release();
    return state;
}

// Waits for work up to `until` and runs one task; false when none came.
// The loop also wakes for a quit and a close; a pump only for work (a
// closed window thread has none to come, and waking for it would spin).
bool RunOne(std::chrono::steady_clock::time_point until, bool forLoop) {
    WindowThreadState& state = State();
    std::function<void()> task;
    {
        std::unique_lock<std::mutex> lock(state.mutex);
        state.wake.wait_until(lock, until, [&] {
            return !state.queue.empty() || (forLoop && (state.quit || !state.open));
        });
        if (state.queue.empty()) {
            return false;
        }
        task = std::move(state.queue.front());
        state.queue.pop_front();
    }
    // Work from other threads must not take the window thread down with it.
    try {
        task();
    } catch (...) {
    }
    return true;
}

}  // namespace

void OpenWindowThread() {
    WindowThreadState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.owner = std::this_thread::get_id();
    state.open = true;
    state.quit = false;
}

void CloseWindowThread() {
    std::deque<std::function<void()>> dropped;
    {
        WindowThreadState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        state.open = false;
        dropped.swap(state.queue);
    }
    State().wake.notify_all();
    // Destroyed outside the lock: a task may own things that post on destruction.
    dropped.clear();
}

bool IsWindowThread() {
    WindowThreadState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    return state.open && state.owner == std::this_thread::get_id();
}

bool IsWindowThreadOpen() {
    WindowThreadState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    return state.open;
}

bool PostToWindowThread(std::function<void()> task) {
    WindowThreadState& state = State();
    std::function<void()> waker;
    {
        const std::lock_guard<std::mutex> lock(state.mutex);
        if (!state.open) {
            return false;
        }
        state.queue.push_back(std::move(task));
        waker = state.waker;
    }
    state.wake.notify_all();
    if (waker) {
        waker();
    }
    return true;
}

void RunPendingWindowWork() {
    while (RunOne(std::chrono::steady_clock::now(), false)) {
    }
}

void SetWindowThreadWaker(std::function<void()> waker) {
    WindowThreadState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.waker = std::move(waker);
}

void RunWindowLoop() {
    for (;;) {
        {
            WindowThreadState& state = State();
            std::lock_guard<std::mutex> lock(state.mutex);
            if (state.quit || !state.open) {
                state.quit = false;
                return;
            }
        }
        RunOne(std::chrono::steady_clock::now() + std::chrono::hours(1), true);
    }
}

void QuitWindowLoop() {
    {
        WindowThreadState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        state.quit = true;
    }
    State().wake.notify_all();
}

bool PumpWindowThreadUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) {
            return false;
        }
        // Short waits: `done` may change without any work being posted.
        RunOne(std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(5)),
               false);
    }
    return true;
}

}  // namespace stubframework::platform
