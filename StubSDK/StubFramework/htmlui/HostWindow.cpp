#include "htmlui/HostWindow.h"

#include "core/InstallerLog.h"
#include "platform/window.h"

namespace stubframework::htmlui {
namespace {

// Tells the dispatch object about its window: the handle for the window
// methods, and the moment the first document is complete.
class DispatchEvents final : public platform::window::HostEvents {
public:
    DispatchEvents(MSHTMLExternal& dispatch, debug::InstallerLog* log)
        : dispatch_(dispatch), log_(log) {}

    void OnWindowCreated(platform::window::Handle window) override {
        dispatch_.SetHostWindow(window);
    }
    void OnDocumentComplete() override {
        if (!complete_) {
            complete_ = true;
            dispatch_.FitInitialWindow();
        }
    }
    void OnWindowDestroyed() override { dispatch_.SetHostWindow(nullptr); }
    void OnNote(const std::string& text) override {
        debug::LogErrorMessage(log_, "%s", text.c_str());
    }

private:
    MSHTMLExternal& dispatch_;
    debug::InstallerLog* const log_;
    bool complete_ = false;
};

}  // namespace

bool RunHostWindow(const std::string& folder, MSHTMLExternal& dispatch,
                   const std::vector<std::pair<std::string, unsigned>>& methods,
                   const std::string& backend, debug::InstallerLog* log) {
    DispatchEvents events(dispatch, log);
    platform::window::HostOptions options{backend, methods};
    if (!platform::window::RunHostWindow(folder, "Load.html", &dispatch, events, options)) {
        debug::LogErrorMessage(log, "The host window (%s) could not be opened",
                               backend.empty() ? "default" : backend.c_str());
        return false;
    }
    return true;
}

}  // namespace stubframework::htmlui
