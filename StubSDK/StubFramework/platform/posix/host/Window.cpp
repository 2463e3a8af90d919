#include <mutex>
#include <set>

#include "platform/posix/host/HostBackend.h"
#include "platform/posix/host/LoopbackBridge.h"
#include "platform/process.h"
#include "platform/window.h"

namespace stubframework::platform::window {
namespace {

using posix::HostBackend;

struct LiveWindows {
    std::mutex mutex;
    std::set<HostBackend*> windows;
};

LiveWindows& Live() {
    static LiveWindows live;
    return live;
}

// The backend behind a handle, or null for anything that is not a live
// host window.
HostBackend* Backend(Handle window) {
    LiveWindows& live = Live();
    const std::lock_guard<std::mutex> lock(live.mutex);
    auto* backend = static_cast<HostBackend*>(window);
    return live.windows.count(backend) != 0 ? backend : nullptr;
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
    posix::LoopbackBridge bridge(folder, external, events, options.methods);
    if (!bridge.Start()) {
        return false;
    }
    {
        const Registration registration(backend.get());
        events.OnWindowCreated(backend.get());
        if (backend->Open(bridge.PageUrl(page), bridge.LaunchUrl(page))) {
            backend->RunUntilClosed();
        }
        events.OnWindowDestroyed();
    }
    bridge.Stop();
    return true;
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
    HostBackend* backend = Backend(window);
    return backend != nullptr ? backend->MessageBox(text, title, buttons) : MessageAnswer::Ok;
}

bool SelectFolder(Handle window, const std::string& initialFolder, std::string& chosen) {
    HostBackend* backend = Backend(window);
    return backend != nullptr && backend->SelectFolder(initialFolder, chosen);
}

}  // namespace stubframework::platform::window
