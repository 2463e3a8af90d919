#include <chrono>
#include <thread>

#include "platform/posix/host/GtkTrackerView.h"
#include "platform/posix/host/LoopbackTrackerView.h"
#include "platform/trackerview.h"

namespace stubframework::platform::trackerview {
namespace {

// Where no page can be shown (no GTK window, and no one to open the page
// served on the loopback): loaded at once, and every event is dropped.
class NoPage final : public View {
public:
    bool Loaded() override { return true; }
    CallResult CallTrackEvent(const std::string& /*text*/) override {
        return {CallResult::Outcome::NoDocument, 0x80004005u, {}};  // E_FAIL
    }
};

}  // namespace

std::unique_ptr<View> Open(const std::string& url, bool alerting,
                           std::function<void(const std::string&)> onMessage) {
    // The page beside our own window, or served for whoever is to open it.
    if (std::unique_ptr<View> view = posix::OpenGtkTrackerView(url, alerting, onMessage)) {
        return view;
    }
    if (std::unique_ptr<View> view =
            posix::OpenLoopbackTrackerView(url, alerting, std::move(onMessage))) {
        return view;
    }
    return std::make_unique<NoPage>();
}

bool WaitWhileServing(const std::function<bool()>& done, std::uint32_t timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        posix::ServeGtkOnce();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // What the finished work left for the loop (a view to take down) runs too.
    posix::ServeGtkOnce();
    return true;
}

}  // namespace stubframework::platform::trackerview
