// The window thread's queue of posted work. A post wakes the window thread
// through a message to a message-only window of its own, so any loop that
// dispatches messages on it (ours, a modal box's, a drag's) runs the work.
#include "platform/windowthread.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/win32/WindowThread.h"

namespace stubframework::platform {
namespace {

// One wake message at most is on its way at a time.
constexpr UINT kWakeMessage = WM_APP + 0x101;
// Takes the wake window down on its own thread.
constexpr UINT kRetireMessage = WM_APP + 0x102;
constexpr wchar_t kWakeClass[] = L"WindowThreadWake";
// How often a pump looks at `done` when no message comes.
constexpr DWORD kLookMs = 10;

struct WindowThreadState {
    std::mutex mutex;
    std::deque<std::function<void()>> queue;
    DWORD owner = 0;
    HWND wakeWindow = nullptr;  // belongs to the owner thread
    bool open = false;
    bool quit = false;
    bool wakePending = false;
    std::function<void()> waker;
};

// Never destroyed: a thread that outlives main (the one that handles end
// requests) may still post while the process ends.
WindowThreadState& State() {
    static WindowThreadState& state = *std::make_unique<WindowThreadState>().release();
    return state;
}

// Called with the lock held. Without a wake window (it could not be made)
// the owner thread's queue gets a thread message, which our loops know.
void WakeLocked(WindowThreadState& state) {
    if (state.wakePending || !state.open) {
        return;
    }
    const BOOL posted = state.wakeWindow != nullptr
                            ? PostMessageW(state.wakeWindow, kWakeMessage, 0, 0)
                            : PostThreadMessageW(state.owner, kWakeMessage, 0, 0);
    state.wakePending = posted != FALSE;
}

void RunWoken() {
    {
        WindowThreadState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        state.wakePending = false;
    }
    // A wake left over from an earlier owner thread runs nothing here.
    if (IsWindowThread()) {
        RunPendingWindowWork();
    }
}

LRESULT CALLBACK WakeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWakeMessage) {
        RunWoken();
        return 0;
    }
    if (message == kRetireMessage) {
        DestroyWindow(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterWakeClass() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = WakeProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kWakeClass;
        return RegisterClassExW(&windowClass) != 0;
    }();
    return registered;
}

HWND CreateWakeWindow() {
    if (!RegisterWakeClass()) {
        return nullptr;
    }
    return CreateWindowExW(0, kWakeClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// Takes down a wake window from any thread: directly on its own, by message
// on any other (a window is destroyed by the thread that made it).
void RetireWakeWindow(HWND window, DWORD owner) {
    if (window == nullptr) {
        return;
    }
    if (owner == GetCurrentThreadId()) {
        DestroyWindow(window);
    } else {
        PostMessageW(window, kRetireMessage, 0, 0);
    }
}

// Takes one task off the queue and runs it; false when there was none.
bool RunOne() {
    std::function<void()> task;
    {
        WindowThreadState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        if (state.queue.empty()) {
            return false;
        }
        task = std::move(state.queue.front());
        state.queue.pop_front();
    }
    // Work from other threads must not take the window thread down with it,
    // and no exception may cross a window procedure.
    try {
        task();
    } catch (...) {
    }
    return true;
}

}  // namespace

namespace win32 {

void DispatchThreadMessage(const MSG& message) {
    if (message.hwnd == nullptr && message.message == kWakeMessage) {
        RunWoken();
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

bool PumpMessagesUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            return false;
        }
        // Short waits: `done` may change without any message coming.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        const DWORD waitMs = static_cast<DWORD>(std::min<std::int64_t>(left.count(), kLookMs));
        MsgWaitForMultipleObjectsEx(0, nullptr, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return done();
            }
            DispatchThreadMessage(message);
        }
    }
    return true;
}

}  // namespace win32

void OpenWindowThread() {
    WindowThreadState& state = State();
    const DWORD self = GetCurrentThreadId();
    HWND retired = nullptr;
    DWORD retiredOwner = 0;
    {
        const std::lock_guard<std::mutex> lock(state.mutex);
        if (state.wakeWindow != nullptr && state.owner != self) {
            retired = std::exchange(state.wakeWindow, nullptr);
            retiredOwner = state.owner;
        }
    }
    RetireWakeWindow(retired, retiredOwner);
    HWND wake = nullptr;
    {
        const std::lock_guard<std::mutex> lock(state.mutex);
        wake = state.wakeWindow;
    }
    if (wake == nullptr) {
        wake = CreateWakeWindow();
    }
    // Gives the thread its message queue, for the thread-message wake.
    MSG ignored;
    PeekMessageW(&ignored, nullptr, 0, 0, PM_NOREMOVE);
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.owner = self;
    state.wakeWindow = wake;
    state.open = true;
    state.quit = false;
    state.wakePending = false;
}

void CloseWindowThread() {
    std::deque<std::function<void()>> dropped;
    HWND retired = nullptr;
    DWORD owner = 0;
    {
        WindowThreadState& state = State();
        const std::lock_guard<std::mutex> lock(state.mutex);
        state.open = false;
        dropped.swap(state.queue);
        retired = std::exchange(state.wakeWindow, nullptr);
        owner = state.owner;
    }
    // A RunWindowLoop on the window thread wakes up to find the thread closed.
    if (retired == nullptr && owner != 0) {
        PostThreadMessageW(owner, kWakeMessage, 0, 0);
    }
    RetireWakeWindow(retired, owner);
    // Destroyed outside the lock: a task may own things that post on
    // destruction, and its captured state tells a waiting caller it is gone.
    dropped.clear();
}

bool IsWindowThread() {
    WindowThreadState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    return state.open && state.owner == GetCurrentThreadId();
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
        WakeLocked(state);
        waker = state.waker;
    }
    if (waker) {
        waker();
    }
    return true;
}

void RunPendingWindowWork() {
    while (RunOne()) {
    }
}

void SetWindowThreadWaker(std::function<void()> waker) {
    WindowThreadState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.waker = std::move(waker);
}

void RunWindowLoop() {
    WindowThreadState& state = State();
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(state.mutex);
            if (state.quit || !state.open) {
                state.quit = false;
                return;
            }
            // Only the window thread's own queue brings its work.
            if (state.owner != GetCurrentThreadId()) {
                return;
            }
        }
        // Work posted while no loop ran (a failed wake) is not left waiting.
        RunPendingWindowWork();
        MSG message;
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // The program is ending: the loop further out sees it too.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (got < 0) {
            return;
        }
        win32::DispatchThreadMessage(message);
    }
}

void QuitWindowLoop() {
    WindowThreadState& state = State();
    const std::lock_guard<std::mutex> lock(state.mutex);
    state.quit = true;
    WakeLocked(state);
}

bool PumpWindowThreadUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
    // Off the window thread there is nothing of its to run: only the wait.
    if (!IsWindowThread()) {
        return win32::PumpMessagesUntil(done, timeoutMs);
    }
    return win32::PumpMessagesUntil(
        [&done] {
            RunPendingWindowWork();
            return done();
        },
        timeoutMs);
}

}  // namespace stubframework::platform
