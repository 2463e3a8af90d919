// Serves the page folder and window.external to a browser of the desktop's
// on 127.0.0.1 (the external window). Only processes of the desktop user
// (and ours) get a connection at all; every URL carries a per-run 128-bit
// token; the Host header must name this server; no path leaves the folder;
// bridge requests must come from our own pages (JSON, our origin, no other
// site's fetch); only sessions handed out are served. The browser is given
// the address through a private file, never on a command line.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/host/EventHub.h"
#include "platform/posix/host/LoopbackServer.h"
#include "platform/posix/host/PageServer.h"

namespace stubframework::platform::posix {

class LoopbackBridge final : public PageServer {
public:
    // The pages' script answers alert, confirm and prompt itself: a browser
    // of the desktop's shows its own dialogs otherwise.
    explicit LoopbackBridge(PageSource source);
    ~LoopbackBridge() override;
    LoopbackBridge(const LoopbackBridge&) = delete;
    LoopbackBridge& operator=(const LoopbackBridge&) = delete;

    // Binds an ephemeral port and starts serving; false when it cannot.
    bool Start() override;
    void Stop() override;
    std::string PageUrl(const std::string& page) const override;
    // A file that leads the desktop user's browser to the page: private to
    // them, removed once a page has come. What goes on a command line.
    std::string LaunchAddress(const std::string& page) override;
    PageActivity Activity() const override;

    const std::string& Token() const { return token_; }
    int Port() const { return server_ ? server_->Port() : 0; }

private:
    void Handle(const HttpRequest& request, LoopbackServer::Response& response);
    bool FromOurPage(const HttpRequest& request) const;
    void ServePage(const HttpRequest& request, const std::string& relative,
                   LoopbackServer::Response& response);
    void ServeInvoke(const HttpRequest& request, LoopbackServer::Response& response);
    void ServeEvents(const HttpRequest& request, LoopbackServer::Response& response);
    void Contacted();
    void RemoveLaunchFile();
    void StreamOpened();
    void StreamClosed();
    std::string Origin() const;

    const PageSource source_;
    std::string token_;
    std::atomic<bool> stopping_{false};
    std::shared_ptr<EventHub> hub_;
    mutable std::mutex activityLock_;
    PageActivity activity_;
    std::string launchFile_;
    std::string launchFolder_;
    std::unique_ptr<LoopbackServer> server_;
};

// The users whose processes may connect: this process's, and the desktop
// user's when we run as root on their behalf.
std::set<uid_t> AdmittedUsers();

// 128 random bits as 32 hex digits: what every URL of ours carries.
std::string RandomToken();

// Writes `url` to the file the environment variable names (when it does),
// private to us and in one step.
void PublishUrl(const char* variable, const std::string& url);

}  // namespace stubframework::platform::posix
