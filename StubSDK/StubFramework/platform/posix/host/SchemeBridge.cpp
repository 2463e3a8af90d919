#include "platform/posix/host/SchemeBridge.h"

#ifdef STUB_HAVE_WEBKITGTK
#include <map>
#include <mutex>

#include <nlohmann/json.hpp>

#include "platform/posix/host/BridgeDispatch.h"
#include "platform/posix/host/BridgeScript.h"
#include "platform/posix/host/PageFiles.h"
#include "platform/windowthread.h"

namespace stubframework::platform::posix {
namespace {

constexpr gsize kMaxBody = 1 << 20;
constexpr const char* kBridgePath = "/__bridge/invoke";

// The bridge serving each context now; requests for a context without one
// are refused. Touched on the window thread only.
std::map<WebKitWebContext*, SchemeBridge*>& Serving() {
    static std::map<WebKitWebContext*, SchemeBridge*> serving;
    return serving;
}

void Finish(WebKitURISchemeRequest* request, int status, const std::string& type,
            const std::string& body) {
    GInputStream* stream = g_memory_input_stream_new_from_data(
        g_memdup2(body.data(), body.size()), static_cast<gssize>(body.size()), g_free);
    WebKitURISchemeResponse* response =
        webkit_uri_scheme_response_new(stream, static_cast<gint64>(body.size()));
    webkit_uri_scheme_response_set_status(response, static_cast<guint>(status), nullptr);
    webkit_uri_scheme_response_set_content_type(response, type.c_str());
    SoupMessageHeaders* headers = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    soup_message_headers_append(headers, "Content-Type", type.c_str());
    soup_message_headers_append(headers, "Referrer-Policy", "no-referrer");
    soup_message_headers_append(headers, "Cross-Origin-Opener-Policy", "same-origin");
    soup_message_headers_append(headers, "X-Content-Type-Options", "nosniff");
    soup_message_headers_append(headers, "Cache-Control", "no-store");
    webkit_uri_scheme_response_set_http_headers(response, headers);  // takes them over
    webkit_uri_scheme_request_finish_with_response(request, response);
    g_object_unref(response);
    g_object_unref(stream);
}

void Refuse(WebKitURISchemeRequest* request, int status) {
    Finish(request, status, "text/plain; charset=utf-8", status == 404 ? "Not Found" : "Forbidden");
}

// The whole body of a request, up to the cap; nothing past it.
std::optional<std::string> ReadBody(WebKitURISchemeRequest* request) {
    GInputStream* stream = webkit_uri_scheme_request_get_http_body(request);
    std::string body;
    if (stream == nullptr) {
        return body;
    }
    char buffer[16384];
    for (;;) {
        gsize got = 0;
        if (!g_input_stream_read_all(stream, buffer, sizeof buffer, &got, nullptr, nullptr)) {
            g_object_unref(stream);
            return std::nullopt;
        }
        body.append(buffer, got);
        if (body.size() > kMaxBody) {
            g_object_unref(stream);
            return std::nullopt;
        }
        if (got < sizeof buffer) {
            break;
        }
    }
    g_object_unref(stream);
    return body;
}

}  // namespace

SchemeBridge::SchemeBridge(PageSource source, WebKitWebContext* context, WebKitWebView* view)
    : source_(std::move(source)),
      context_(context),
      view_(view),
      hub_(std::make_shared<EventHub>()) {}

SchemeBridge::~SchemeBridge() {
    Stop();
}

void SchemeBridge::Register(WebKitWebContext* context) {
    webkit_web_context_register_uri_scheme(context, kScheme, &SchemeBridge::OnRequest, context,
                                           nullptr);
}

bool SchemeBridge::Start() {
    Serving()[context_] = this;
    // Callbacks that workers send wake a delivery on the window thread.
    hub_->SetWaker([this, context = context_] {
        if (!deliveryPosted_.exchange(true)) {
            // The bridge may be gone by the time this runs: found by its context.
            PostToWindowThread([context] {
                const auto found = Serving().find(context);
                if (found != Serving().end()) {
                    found->second->Deliver();
                }
            });
        }
    });
    return true;
}

void SchemeBridge::Stop() {
    if (stopped_) {
        return;
    }
    stopped_ = true;
    hub_->Close();
    // A delivery still queued finds the bridge gone from the map.
    Serving().erase(context_);
}

std::string SchemeBridge::PageUrl(const std::string& page) const {
    return std::string(kOrigin) + "/" + page;
}

PageActivity SchemeBridge::Activity() const {
    // Our own view always holds the page.
    return PageActivity{true, 1, std::chrono::steady_clock::now()};
}

void SchemeBridge::OnRequest(WebKitURISchemeRequest* request, gpointer context) {
    const auto found = Serving().find(static_cast<WebKitWebContext*>(context));
    if (found == Serving().end()) {
        Refuse(request, 403);
        return;
    }
    found->second->Serve(request);
}

void SchemeBridge::Serve(WebKitURISchemeRequest* request) {
    // Only our view: the scheme is the process's, a second view would share it.
    if (webkit_uri_scheme_request_get_web_view(request) != view_) {
        Refuse(request, 403);
        return;
    }
    const std::string path = webkit_uri_scheme_request_get_path(request);
    const char* method = webkit_uri_scheme_request_get_http_method(request);
    if (path == kBridgePath) {
        ServeInvoke(request);
        return;
    }
    if (method != nullptr && std::string(method) != "GET") {
        Refuse(request, 403);
        return;
    }
    const std::optional<PageFile> page =
        ReadPageFile(source_.folder, path.empty() ? path : path.substr(1), true, [this] {
            return "<script>" +
                   BridgeScript({std::string(kOrigin) + "/__bridge/", hub_->Issue(),
                                 source_.methods, false, false}) +
                   "</script>";
        });
    if (!page) {
        Refuse(request, 404);
        return;
    }
    Finish(request, 200, page->type, page->body);
}

void SchemeBridge::ServeInvoke(WebKitURISchemeRequest* request) {
    // The browser does not check where a synchronous request to a scheme
    // comes from: a page of another origin in our view must not get in.
    SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request);
    const char* origin =
        headers != nullptr ? soup_message_headers_get_one(headers, "Origin") : nullptr;
    const char* method = webkit_uri_scheme_request_get_http_method(request);
    const char* type =
        headers != nullptr ? soup_message_headers_get_one(headers, "Content-Type") : nullptr;
    if (origin == nullptr || std::string(origin) != kOrigin || method == nullptr ||
        std::string(method) != "POST" || type == nullptr ||
        std::string(type).rfind("application/json", 0) != 0) {
        Refuse(request, 403);
        return;
    }
    const std::optional<std::string> body = ReadBody(request);
    if (!body) {
        Refuse(request, 403);
        return;
    }
    bool badRequest = false;
    // The scheme's requests arrive on the window thread: the dispatch runs here.
    const std::string reply =
        DispatchBridgeMessage(*body, *source_.external, *source_.events, hub_, badRequest);
    Finish(request, badRequest ? 400 : 200, "application/json", reply);
}

void SchemeBridge::Deliver() {
    deliveryPosted_ = false;
    // The next batch waits until the page has run this one, so a page slower
    // than its workers gets their newest progress instead of a backlog. A
    // batch that never reports back holds nothing up for long.
    if (delivering_ && std::chrono::steady_clock::now() < deliveredAt_ + EventHub::kTakeWait) {
        return;
    }
    std::chrono::milliseconds again{0};
    const std::vector<std::string> events = hub_->TakeCurrent(&again);
    if (events.empty()) {
        if (again.count() > 0 && !pacing_) {
            pacing_ = true;
            g_timeout_add(static_cast<guint>(again.count()), &SchemeBridge::OnPaced, context_);
        }
        return;
    }
    const std::string batch = nlohmann::json(events).dump();
    const std::string script =
        std::string(kDeliverFunction) + "(" + nlohmann::json(batch).dump() + ")";
    delivering_ = true;
    deliveredAt_ = std::chrono::steady_clock::now();
    webkit_web_view_evaluate_javascript(view_, script.c_str(), static_cast<gssize>(script.size()),
                                        nullptr, nullptr, nullptr, &SchemeBridge::OnDelivered,
                                        context_);
}

void SchemeBridge::OnDelivered(GObject* view, GAsyncResult* result, gpointer context) {
    GError* error = nullptr;
    JSCValue* value =
        webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error);
    if (value != nullptr) {
        g_object_unref(value);
    }
    if (error != nullptr) {
        g_error_free(error);
    }
    // The bridge may be gone by now: found by its context.
    const auto found = Serving().find(static_cast<WebKitWebContext*>(context));
    if (found != Serving().end()) {
        found->second->delivering_ = false;
        found->second->Deliver();
    }
}

gboolean SchemeBridge::OnPaced(gpointer context) {
    const auto found = Serving().find(static_cast<WebKitWebContext*>(context));
    if (found != Serving().end()) {
        found->second->pacing_ = false;
        found->second->Deliver();
    }
    return G_SOURCE_REMOVE;
}

}  // namespace stubframework::platform::posix
#endif
