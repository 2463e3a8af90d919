// One way of showing the host window on Linux: our own GTK window with a
// WebKitGTK view, or any browser pointed at the loopback bridge.
#pragma once

#include <memory>
#include <string>

#include "platform/posix/host/PageServer.h"
#include "platform/window.h"

namespace stubframework::platform::posix {

class HostBackend {
public:
    virtual ~HostBackend() = default;

    // What serves the pages to this backend's engine.
    virtual std::unique_ptr<PageServer> ServePages(PageSource source) = 0;
    // Shows the page at `url`; `launch` leads there, for handing to another
    // program. False when nothing could be shown.
    virtual bool Open(const std::string& url, const std::string& launch) = 0;
    // Runs the window thread's loop until RequestClose.
    virtual void RunUntilClosed() = 0;
    virtual void RequestClose() = 0;
    // True when nothing of ours shows the page, so the run must watch that
    // a page comes and stays.
    virtual bool WatchesPage() const { return false; }

    virtual void Show(bool visible) = 0;
    virtual void BeginDrag() = 0;
    virtual void Activate() = 0;
    virtual void Minimize() = 0;
    virtual int Dpi() = 0;
    virtual window::Rect OuterFromClient(const window::Rect& client) = 0;
    virtual window::Rect ClientRect() = 0;
    virtual void PlacementReference(window::Rect& reference, window::Rect& workArea) = 0;
    virtual void SetPosition(const window::Rect& outer) = 0;
    // `owned`: over this window; otherwise a box of its own.
    virtual window::MessageAnswer MessageBox(const std::string& text, const std::string& title,
                                             window::MessageButtons buttons, bool owned) = 0;
    virtual bool SelectFolder(const std::string& initialFolder, std::string& chosen) = 0;
};

std::unique_ptr<HostBackend> CreateExternalBackend();
// Null when this build has no WebKitGTK or no display can be opened.
std::unique_ptr<HostBackend> CreateGtkBackend();

}  // namespace stubframework::platform::posix
