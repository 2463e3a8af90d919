// Serves the page folder and window.external to a browser on 127.0.0.1:
// every URL carries a per-run 128-bit token, the Host header must name this
// server, no path leaves the folder, and every script call is handed to the
// window thread, which runs the dispatch.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "platform/window.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace stubframework::platform::posix {

class EventHub;

class LoopbackBridge {
public:
    using Methods = std::vector<std::pair<std::string, unsigned>>;

    // `quietDialogs`: the pages' script answers alert, confirm and prompt
    // itself (the host cannot swallow the engine's dialogs).
    LoopbackBridge(std::string folder, IDispatchEx* external, window::HostEvents& events,
                   Methods methods, bool quietDialogs);
    ~LoopbackBridge();
    LoopbackBridge(const LoopbackBridge&) = delete;
    LoopbackBridge& operator=(const LoopbackBridge&) = delete;

    // Binds an ephemeral port and starts serving; false when it cannot.
    bool Start();
    // Stops serving; callbacks still held by workers become no-ops.
    void Stop();

    // The address of a file in the folder, for the browser.
    std::string PageUrl(const std::string& page) const;
    // An address that leads to the page once and is void afterwards: what
    // goes on another program's command line, where others can read it.
    std::string LaunchUrl(const std::string& page);
    const std::string& Token() const { return token_; }
    int Port() const { return port_; }

    // Whether a page is there: did any reach the bridge, how many event
    // streams are open, and since when the count has been what it is.
    struct PageActivity {
        bool contacted = false;
        int streams = 0;
        std::chrono::steady_clock::time_point since;
    };
    PageActivity Activity() const;

private:
    bool Admit(const httplib::Request& request, httplib::Response& response);
    void StreamOpened();
    void StreamClosed();
    void ServePage(const httplib::Request& request, httplib::Response& response);
    void ServeInvoke(const httplib::Request& request, httplib::Response& response);
    void ServeLaunch(const httplib::Request& request, httplib::Response& response);
    void ServeEvents(const httplib::Request& request, httplib::Response& response);

    const std::string folder_;
    IDispatchEx* const external_;
    window::HostEvents& events_;
    const Methods methods_;
    const bool quietDialogs_;
    std::string token_;
    int port_ = 0;
    std::atomic<unsigned> nextSession_{1};
    std::atomic<bool> stopping_{false};
    std::mutex launchLock_;
    std::string launchNonce_;
    std::string launchPage_;
    std::shared_ptr<EventHub> hub_;
    mutable std::mutex activityLock_;
    PageActivity activity_;
    std::unique_ptr<httplib::Server> server_;
    std::thread listener_;
};

}  // namespace stubframework::platform::posix
