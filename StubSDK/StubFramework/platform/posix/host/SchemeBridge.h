// Serves the page folder and window.external to our own WebKitGTK view
// through a URI scheme of the process ("stub://app/"): no socket, so no
// other process can reach the pages or the bridge at all. Bridge requests
// must come from our view and carry our origin; callbacks reach the page
// through the view itself.
#pragma once

#ifdef STUB_HAVE_WEBKITGTK
#include <webkit2/webkit2.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "platform/posix/host/EventHub.h"
#include "platform/posix/host/PageServer.h"

namespace stubframework::platform::posix {

class SchemeBridge final : public PageServer {
public:
    static constexpr const char* kScheme = "stub";
    static constexpr const char* kOrigin = "stub://app";

    SchemeBridge(PageSource source, WebKitWebContext* context, WebKitWebView* view);
    ~SchemeBridge() override;
    SchemeBridge(const SchemeBridge&) = delete;
    SchemeBridge& operator=(const SchemeBridge&) = delete;

    bool Start() override;
    void Stop() override;
    std::string PageUrl(const std::string& page) const override;
    PageActivity Activity() const override;

    // Registers the scheme on a context, once: requests go to the bridge
    // that serves that context's view at the time.
    static void Register(WebKitWebContext* context);

private:
    static void OnRequest(WebKitURISchemeRequest* request, gpointer context);
    void Serve(WebKitURISchemeRequest* request);
    void ServeInvoke(WebKitURISchemeRequest* request);
    void Deliver();
    static void OnDelivered(GObject* view, GAsyncResult* result, gpointer context);
    static gboolean OnPaced(gpointer context);

    const PageSource source_;
    WebKitWebContext* const context_;
    WebKitWebView* const view_;
    std::shared_ptr<EventHub> hub_;
    std::atomic<bool> deliveryPosted_{false};
    // A batch the page is still running, and since when (window thread).
    bool delivering_ = false;
    bool pacing_ = false;  // a delivery waits for the progress pace
    std::chrono::steady_clock::time_point deliveredAt_;
    bool stopped_ = false;
};

}  // namespace stubframework::platform::posix
#endif
