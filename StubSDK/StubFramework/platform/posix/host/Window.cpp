#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <set>
#include <thread>

#include "platform/posix/host/DialogAnswers.h"
#include "platform/posix/host/HostBackend.h"
#include "platform/process.h"
#include "platform/window.h"
#include "platform/windowthread.h"

namespace stubframework::platform::window {
namespace {

using posix::HostBackend;
using posix::PageServer;

struct LiveWindows {
    std::mutex mutex;
    std::set<HostBackend*> windows;
};

LiveWindows& Live() {
    static LiveWindows live;
    return live;
}

// Set once the program was asked to end: no window stays open after that.
std::atomic<bool> endRequested{false};

void CloseLiveWindows() {
    std::set<HostBackend*> windows;
    {
        const std::lock_guard<std::mutex> lock(Live().mutex);
        windows = Live().windows;
    }
    for (HostBackend* backend : windows) {
        backend->RequestClose();
    }
}

std::chrono::seconds SecondsFrom(const char* variable, std::chrono::seconds fallback) {
    const std::string text = process::EnvironmentVariable(variable);
    const long seconds = text.empty() ? 0 : std::strtol(text.c_str(), nullptr, 10);
    return seconds > 0 ? std::chrono::seconds(seconds) : fallback;
}

// Closes the window when its page does not come or has gone: with a browser
// of the desktop's, nothing else would ever end the run. Ten minutes for the
// first page, two without an event stream (STUB_PAGE_CONNECT_SECONDS and
// STUB_PAGE_GONE_SECONDS change them).
class PageWatch {
public:
    PageWatch(const PageServer& server, HostBackend& backend)
        : server_(server),
          backend_(backend),
          connectWait_(SecondsFrom("STUB_PAGE_CONNECT_SECONDS", std::chrono::minutes(10))),
          goneWait_(SecondsFrom("STUB_PAGE_GONE_SECONDS", std::chrono::minutes(2))),
          thread_([this] { Run(); }) {}
    ~PageWatch() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    PageWatch(const PageWatch&) = delete;
    PageWatch& operator=(const PageWatch&) = delete;

    // Why the watch closed the window; empty when it did not.
    std::string Reason() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return reason_;
    }

private:
    void Run() {
        const auto started = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; })) {
            const posix::PageActivity activity = server_.Activity();
            const auto now = std::chrono::steady_clock::now();
            if (!activity.contacted && now - started >= connectWait_) {
                reason_ = "No page has come within " + std::to_string(connectWait_.count()) +
                          " s: the window is closed";
            } else if (activity.contacted && activity.streams == 0 &&
                       now - activity.since >= goneWait_) {
                reason_ = "The page has been gone for " + std::to_string(goneWait_.count()) +
                          " s: the window is closed";
            } else {
                continue;
            }
            HostBackend* backend = &backend_;
            PostToWindowThread([backend] { backend->RequestClose(); });
            return;
        }
    }

    const PageServer& server_;
    HostBackend& backend_;
    const std::chrono::seconds connectWait_;
    const std::chrono::seconds goneWait_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::string reason_;
    std::thread thread_;
};

// The backend behind a handle, or null for anything that is not a live
// host window.
HostBackend* Backend(Handle window) {
    LiveWindows& live = Live();
    const std::lock_guard<std::mutex> lock(live.mutex);
    auto* backend = static_cast<HostBackend*>(window);
    return live.windows.count(backend) != 0 ? backend : nullptr;
}

HostBackend* AnyBackend() {
    LiveWindows& live = Live();
    const std::lock_guard<std::mutex> lock(live.mutex);
    return live.windows.empty() ? nullptr : *live.windows.begin();
}

std::unique_ptr<HostBackend> ChooseBackend(const std::string& name) {
    if (name == "external") {
        return posix::CreateExternalBackend();
    }
    const bool display = !process::EnvironmentVariable("DISPLAY").empty() ||
                         !process::EnvironmentVariable("WAYLAND_DISPLAY").empty();
    if (name == "gtk" || (name.empty() && display)) {
        if (auto gtk = posix::CreateGtkBackend()) {
            return gtk;
        }
        if (name == "gtk") {
            return nullptr;
        }
    }
    return posix::CreateExternalBackend();
}

class Registration {
public:
    explicit Registration(HostBackend* backend) : backend_(backend) {
        const std::lock_guard<std::mutex> lock(Live().mutex);
        Live().windows.insert(backend_);
    }
    ~Registration() {
        const std::lock_guard<std::mutex> lock(Live().mutex);
        Live().windows.erase(backend_);
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    HostBackend* backend_;
};

}  // namespace

bool RunHostWindow(const std::string& folder, const std::string& page, IDispatchEx* external,
                   HostEvents& events, const HostOptions& options) {
    std::unique_ptr<HostBackend> backend = ChooseBackend(options.backend);
    if (!backend) {
        return false;
    }
    const std::unique_ptr<PageServer> server =
        backend->ServePages({folder, external, &events, options.methods});
    if (!server->Start()) {
        return false;
    }
    std::string watchReason;
    {
        const Registration registration(backend.get());
        events.OnWindowCreated(backend.get());
        // Asked to end before the window was there: it never opens.
        if (!endRequested && backend->Open(server->PageUrl(page), server->LaunchAddress(page))) {
            std::unique_ptr<PageWatch> watch;
            if (backend->WatchesPage()) {
                watch = std::make_unique<PageWatch>(*server, *backend);
            }
            backend->RunUntilClosed();
            if (watch) {
                watchReason = watch->Reason();
            }
        }
        events.OnWindowDestroyed();
    }
    server->Stop();
    if (!watchReason.empty()) {
        events.OnNote(watchReason);
    }
    return true;
}

void RequestEnd() {
    endRequested = true;
    PostToWindowThread(CloseLiveWindows);
}

bool IsHostWindow(Handle window) {
    return Backend(window) != nullptr;
}

void RequestClose(Handle window) {
    if (HostBackend* backend = Backend(window)) {
        backend->RequestClose();
    }
}

void Show(Handle window, bool visible) {
    if (HostBackend* backend = Backend(window)) {
        backend->Show(visible);
    }
}

void BeginDrag(Handle window) {
    if (HostBackend* backend = Backend(window)) {
        backend->BeginDrag();
    }
}

void Activate(Handle window) {
    if (HostBackend* backend = Backend(window)) {
        backend->Activate();
    }
}

void Minimize(Handle window) {
    if (HostBackend* backend = Backend(window)) {
        backend->Minimize();
    }
}

int Dpi(Handle window) {
    HostBackend* backend = Backend(window);
    return backend != nullptr ? backend->Dpi() : 96;
}

Rect OuterFromClient(Handle window, const Rect& client) {
    HostBackend* backend = Backend(window);
    return backend != nullptr ? backend->OuterFromClient(client) : client;
}

Rect ClientRect(Handle window) {
    HostBackend* backend = Backend(window);
    return backend != nullptr ? backend->ClientRect() : Rect{};
}

void PlacementReference(Handle window, Rect& reference, Rect& workArea) {
    if (HostBackend* backend = Backend(window)) {
        backend->PlacementReference(reference, workArea);
    }
}

void SetPosition(Handle window, const Rect& outer) {
    if (HostBackend* backend = Backend(window)) {
        backend->SetPosition(outer);
    }
}

MessageAnswer ShowMessageBox(Handle window, const std::string& text, const std::string& title,
                             MessageButtons buttons) {
    if (HostBackend* backend = Backend(window)) {
        return backend->MessageBox(text, title, buttons, true);
    }
    // Owner-less: shown by whichever way this run shows its window.
    if (HostBackend* backend = AnyBackend()) {
        return backend->MessageBox(text, title, buttons, false);
    }
    return posix::DialogAnswers::Windowless().NextFor(buttons);
}

bool SelectFolder(Handle window, const std::string& initialFolder, std::string& chosen) {
    HostBackend* backend = Backend(window);
    return backend != nullptr && backend->SelectFolder(initialFolder, chosen);
}

}  // namespace stubframework::platform::window
