// What serves the page folder and window.external to a backend's engine:
// the loopback bridge for a browser of the desktop's, a URI scheme of our
// own for the GTK window.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "platform/window.h"

namespace stubframework::platform::posix {

// Whether a page is there: did any reach the server, how many event streams
// are open, and since when the count has been what it is.
struct PageActivity {
    bool contacted = false;
    int streams = 0;
    std::chrono::steady_clock::time_point since;
};

// What the pages are served from and to.
struct PageSource {
    std::string folder;
    IDispatchEx* external = nullptr;
    window::HostEvents* events = nullptr;
    // The script-callable names with the invocation flags a typed script
    // engine passes for each.
    std::vector<std::pair<std::string, unsigned>> methods;
};

class PageServer {
public:
    virtual ~PageServer() = default;
    virtual bool Start() = 0;
    // Stops serving; callbacks still held by workers become no-ops.
    virtual void Stop() = 0;
    // The address of a file in the folder, for the engine.
    virtual std::string PageUrl(const std::string& page) const = 0;
    // What to give another program that opens the page: never the address
    // itself where others could read it. Empty when there is nothing to give.
    virtual std::string LaunchAddress(const std::string& /*page*/) { return {}; }
    virtual PageActivity Activity() const = 0;
};

}  // namespace stubframework::platform::posix
