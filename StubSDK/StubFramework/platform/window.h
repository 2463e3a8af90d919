// The host window: one top-level window showing the page package, handing
// the dispatch object to the pages as window.external, and the operations
// the window methods perform on it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/com.h"

namespace stubframework::platform::window {

// A host window, as the method table and the dispatch object know it.
using Handle = void*;

// What the window tells the object that serves the pages.
class HostEvents {
public:
    virtual void OnWindowCreated(Handle window) = 0;  // SetHostWindow
    virtual void OnDocumentComplete() = 0;            // FitInitialWindow
    virtual void OnWindowDestroyed() = 0;             // SetHostWindow(none)
    // Something the window met that the log should hold (a page that never
    // came, a window that could not be made).
    virtual void OnNote(const std::string& text) = 0;

protected:
    ~HostEvents() = default;
};

// How the Linux host shows pages. Windows has one host, the WebBrowser
// control, whose script engine asks window.external for names itself.
struct HostOptions {
    // "gtk", "external", or empty: the desktop window when a display is there.
    std::string backend;
    // The script-callable names with the invocation flags a typed script
    // engine passes for each.
    std::vector<std::pair<std::string, unsigned>> methods;
};

// Shows `page` (a file in `folder`) with `external` as window.external and
// runs the window thread's loop until the window is closed. False, at once,
// when no window could be made.
bool RunHostWindow(const std::string& folder, const std::string& page, IDispatchEx* external,
                   HostEvents& events, const HostOptions& options);

// Closes every host window, now and any opened later: the program was asked
// to end. From any thread.
void RequestEnd();

// True for a live host window (the class check of the window methods).
bool IsHostWindow(Handle window);
// Sets the close flag: the loop ends after the current message.
void RequestClose(Handle window);
void Show(Handle window, bool visible);
// Starts moving the window with the held mouse button.
void BeginDrag(Handle window);
// Brings the window to the front, restoring it when minimised.
void Activate(Handle window);
void Minimize(Handle window);

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// The screen's horizontal DPI for the window (96 is 100 %).
int Dpi(Handle window);
// The outer rectangle for a client rectangle with the window's style.
Rect OuterFromClient(Handle window, const Rect& client);
// The client rectangle's size now.
Rect ClientRect(Handle window);
// The owner's rectangle and the work area of the monitor nearest it, or
// without an owner the work area of the monitor under the mouse, as both.
void PlacementReference(Handle window, Rect& reference, Rect& workArea);
// Moves and sizes without changing the z-order or activating.
void SetPosition(Handle window, const Rect& outer);

enum class MessageButtons { Ok, OkCancel, RetryCancel };
enum class MessageAnswer { Ok, Cancel, Retry };
// A modal box owned by `window`; without one (null) a box of its own, on
// the desktop rather than over the wizard. A box nobody answers, or one
// closed without a choice, counts as Cancel where Cancel is offered.
MessageAnswer ShowMessageBox(Handle window, const std::string& text, const std::string& title,
                             MessageButtons buttons);
// The folder picker; false when cancelled.
bool SelectFolder(Handle window, const std::string& initialFolder, std::string& chosen);

}  // namespace stubframework::platform::window
