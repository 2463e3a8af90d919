// The tracker's page: a web page nobody sees, loaded from the tracker's own
// address, whose script function trackEvent receives each event and which
// answers through window.external.PostJSMessage.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace stubframework::platform::trackerview {

struct CallResult {
    enum class Outcome { Success, NoDocument, Failed };
    Outcome outcome = Outcome::Failed;
    std::uint32_t error = 0;
    std::string text;  // what trackEvent returned, as text
};

class View {
public:
    virtual ~View() = default;
    // True once loading has ended, also when it failed (calls then fail).
    virtual bool Loaded() = 0;
    // Calls the page's trackEvent with `text` as its one argument (a value,
    // never script).
    virtual CallResult CallTrackEvent(const std::string& text) = 0;
};

// Starts loading `url` for the calling thread, which uses the view until it
// destroys it. `onMessage` receives each PostJSMessage text, from any
// thread. Null when no view can be made. Script dialogs are swallowed unless
// `alerting`.
std::unique_ptr<View> Open(const std::string& url, bool alerting,
                           std::function<void(const std::string&)> onMessage);

// Waits up to `timeoutMs` for `done`, keeping whatever runs the views
// going on this thread meanwhile (the exit path's waits on the main thread).
bool WaitWhileServing(const std::function<bool()>& done, std::uint32_t timeoutMs);

}  // namespace stubframework::platform::trackerview
