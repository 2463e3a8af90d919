// The console's control events: Ctrl+C, Ctrl+Break, the close of the
// console, log-off and shutdown. Windows runs the handler on a thread it
// makes for each event. A program without a console gets none of them; its
// window hears of log-off and shutdown itself.
#include "platform/win32/Win32.h"

#include <atomic>
#include <utility>

#include "platform/endrequest.h"

namespace stubframework::platform {
namespace {

std::function<void(int, EndRequestSource)>& Handler() {
    static std::function<void(int, EndRequestSource)> handler;
    return handler;
}

BOOL WINAPI OnControlEvent(DWORD event) {
    // Every process of the console gets the event at once, so none comes
    // from a single sender.
    try {
        Handler()(static_cast<int>(event), EndRequestSource::kTerminal);
    } catch (...) {
    }
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        return TRUE;
    }
    // After the others the system ends the process as soon as the handler
    // returns: wait here while the normal end runs (the system allows a few
    // seconds).
    Sleep(INFINITE);
    return TRUE;
}

}  // namespace

void HandleEndRequests(std::function<void(int request, EndRequestSource source)> onRequest) {
    static std::atomic<bool> handled{false};
    if (handled.exchange(true)) {
        return;
    }
    Handler() = std::move(onRequest);
    SetConsoleCtrlHandler(OnControlEvent, TRUE);
}

}  // namespace stubframework::platform
