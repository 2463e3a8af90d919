#include "htmlui/HostWindow.h"

#include "platform/window.h"

namespace stubframework::htmlui {
namespace {

// Tells the dispatch object about its window: the handle for the window
// methods, and the moment the first document is complete.
class DispatchEvents final : public platform::window::HostEvents {
public:
    explicit DispatchEvents(MSHTMLExternal& dispatch) : dispatch_(dispatch) {}

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

private:
    MSHTMLExternal& dispatch_;
    bool complete_ = false;
};

}  // namespace

bool RunHostWindow(const std::string& folder, MSHTMLExternal& dispatch,
                   const std::vector<std::pair<std::string, unsigned>>& methods,
                   const std::string& backend) {
    DispatchEvents events(dispatch);
    platform::window::HostOptions options{backend, methods};
    return platform::window::RunHostWindow(folder, "Load.html", &dispatch, events, options);
}

}  // namespace stubframework::htmlui
