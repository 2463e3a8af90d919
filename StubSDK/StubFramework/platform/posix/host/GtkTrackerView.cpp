// The tracker's page in a WebKit view nobody sees. WebKit lives on the
// thread that runs the GLib loop (the window thread while the wizard shows,
// the exit path's waits afterwards); the tracker's own thread reaches the view
// only by handing work to that loop and waiting a bounded time for it.
#include "platform/posix/host/GtkTrackerView.h"

#ifdef STUB_HAVE_WEBKITGTK
#include <gtk/gtk.h>

#include <webkit2/webkit2.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/process.h"
#endif

namespace stubframework::platform::posix {

#ifndef STUB_HAVE_WEBKITGTK
std::unique_ptr<trackerview::View> OpenGtkTrackerView(
    const std::string& /*url*/, bool /*alerting*/,
    std::function<void(const std::string&)> /*onMessage*/) {
    return nullptr;
}
#else
namespace {

using trackerview::CallResult;

// How long the tracker's thread waits for the GLib loop to run its work.
constexpr auto kLoopWait = std::chrono::seconds(10);
constexpr std::uint32_t kErrorTimeout = 1460;  // ERROR_TIMEOUT

// The page defines its answers through window.external.PostJSMessage.
constexpr const char* kExternalScript =
    "Object.defineProperty(window, 'external', {configurable: true, value: {"
    "PostJSMessage: function (text) {"
    "window.webkit.messageHandlers.tracker.postMessage(String(text)); }}});";

// The widgets, touched on the GLib loop's thread only.
struct Page {
    GtkWidget* window = nullptr;
    WebKitWebView* view = nullptr;
    std::function<void(const std::string&)> onMessage;
    bool alerting = false;
};

// What both threads share; it outlives whichever side gives up first.
struct Shared {
    std::mutex lock;
    std::condition_variable changed;
    Page* page = nullptr;
    bool created = false;
    std::atomic<bool> loaded{false};
};

struct Call {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    CallResult result;
};

// Queues `work` for the GLib loop's thread. Always queued, never run here:
// an invoke would run it on this thread while no loop owns the context.
void OnLoop(std::function<void()> work) {
    GSource* source = g_idle_source_new();
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(work)),  // freed with the source
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
    g_source_attach(source, nullptr);
    g_source_unref(source);
}

gboolean OnScriptDialog(WebKitWebView* /*view*/, WebKitScriptDialog* /*dialog*/, gpointer page) {
    return static_cast<Page*>(page)->alerting ? FALSE : TRUE;
}

void OnMessage(WebKitUserContentManager* /*manager*/, WebKitJavascriptResult* result,
               gpointer page) {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (gchar* text = jsc_value_to_string(value)) {
        static_cast<Page*>(page)->onMessage(text);
        g_free(text);
    }
}

// A page whose load failed has ended loading all the same: deliveries to
// it fail and are dropped.
void OnLoadChanged(WebKitWebView* /*view*/, WebKitLoadEvent event, gpointer shared) {
    if (event == WEBKIT_LOAD_FINISHED) {
        static_cast<Shared*>(shared)->loaded = true;
    }
}

// The certificate a test's web service uses, trusted for its host.
void TrustTestCertificate(WebKitWebContext* context, const std::string& url) {
    const std::string bundle = process::EnvironmentVariable("STUB_CA_BUNDLE");
    if (bundle.empty()) {
        return;
    }
    GUri* parsed = g_uri_parse(url.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (parsed == nullptr) {
        return;
    }
    if (GTlsCertificate* certificate = g_tls_certificate_new_from_file(bundle.c_str(), nullptr)) {
        webkit_web_context_allow_tls_certificate_for_host(context, certificate,
                                                          g_uri_get_host(parsed));
        g_object_unref(certificate);
    }
    g_uri_unref(parsed);
}

Page* CreatePage(const std::string& url, bool alerting,
                 std::function<void(const std::string&)> onMessage, Shared* shared) {
    auto* page =
        new Page{nullptr, nullptr, std::move(onMessage), alerting};  // freed in DestroyPage
    WebKitWebContext* context = webkit_web_context_new_ephemeral();
    TrustTestCertificate(context, url);
    WebKitUserContentManager* content = webkit_user_content_manager_new();
    g_signal_connect(content, "script-message-received::tracker", G_CALLBACK(OnMessage), page);
    webkit_user_content_manager_register_script_message_handler(content, "tracker");
    WebKitUserScript* script =
        webkit_user_script_new(kExternalScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
    page->view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                              "user-content-manager", content, nullptr));
    g_object_unref(content);
    g_object_unref(context);
    g_signal_connect(page->view, "script-dialog", G_CALLBACK(OnScriptDialog), page);
    g_signal_connect(page->view, "load-changed", G_CALLBACK(OnLoadChanged), shared);
    // Shown, but off every screen: scripts and timers run as in any page.
    page->window = gtk_offscreen_window_new();
    gtk_container_add(GTK_CONTAINER(page->window), GTK_WIDGET(page->view));
    gtk_widget_show_all(page->window);
    webkit_web_view_load_uri(page->view, url.c_str());
    return page;
}

void DestroyPage(Page* page) {
    gtk_widget_destroy(page->window);  // takes the view along
    delete page;
}

void OnCallDone(GObject* view, GAsyncResult* outcome, gpointer data) {
    std::unique_ptr<std::shared_ptr<Call> > held(static_cast<std::shared_ptr<Call>*>(data));
    Call& call = **held;
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(view),
                                                                            outcome, &error);
    const std::lock_guard<std::mutex> lock(call.lock);
    if (value == nullptr) {
        call.result = {CallResult::Outcome::Failed,
                       error != nullptr ? static_cast<std::uint32_t>(error->code) : 0u,
                       {}};
        g_clear_error(&error);
    } else {
        call.result.outcome = CallResult::Outcome::Success;
        if (!jsc_value_is_undefined(value) && !jsc_value_is_null(value)) {
            gchar* text = jsc_value_to_string(value);
            call.result.text = text != nullptr ? text : "";
            g_free(text);
        }
        g_object_unref(value);
    }
    call.done = true;
    call.changed.notify_all();
}

class GtkTrackerView final : public trackerview::View {
public:
    GtkTrackerView(const std::string& url, bool alerting,
                   std::function<void(const std::string&)> onMessage)
        : shared_(std::make_shared<Shared>()) {
        OnLoop([shared = shared_, url, alerting, onMessage = std::move(onMessage)]() mutable {
            Page* page = CreatePage(url, alerting, std::move(onMessage), shared.get());
            const std::lock_guard<std::mutex> lock(shared->lock);
            shared->page = page;
            shared->created = true;
            shared->changed.notify_all();
        });
    }

    ~GtkTrackerView() override {
        OnLoop([shared = shared_] {
            const std::lock_guard<std::mutex> lock(shared->lock);
            if (shared->page != nullptr) {
                DestroyPage(shared->page);
                shared->page = nullptr;
            }
        });
    }

    GtkTrackerView(const GtkTrackerView&) = delete;
    GtkTrackerView& operator=(const GtkTrackerView&) = delete;

    bool Loaded() override { return shared_->loaded; }

    CallResult CallTrackEvent(const std::string& text) override {
        auto call = std::make_shared<Call>();
        OnLoop([shared = shared_, call, text] {
            WebKitWebView* view = nullptr;
            {
                const std::lock_guard<std::mutex> lock(shared->lock);
                view = shared->page != nullptr ? shared->page->view : nullptr;
            }
            if (view == nullptr) {
                const std::lock_guard<std::mutex> lock(call->lock);
                call->result = {CallResult::Outcome::NoDocument, 0x80004005u, {}};
                call->done = true;
                call->changed.notify_all();
                return;
            }
            // The text goes in as a value, never as script.
            GVariantDict arguments;
            g_variant_dict_init(&arguments, nullptr);
            g_variant_dict_insert(&arguments, "text", "s", text.c_str());
            webkit_web_view_call_async_javascript_function(
                view, "return trackEvent(text);", -1, g_variant_dict_end(&arguments), nullptr,
                nullptr, nullptr, OnCallDone, new std::shared_ptr<Call>(call));
        });
        std::unique_lock<std::mutex> lock(call->lock);
        if (!call->changed.wait_for(lock, kLoopWait, [&call] { return call->done; })) {
            return {CallResult::Outcome::Failed, kErrorTimeout, {}};
        }
        return call->result;
    }

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace

std::unique_ptr<trackerview::View> OpenGtkTrackerView(
    const std::string& url, bool alerting, std::function<void(const std::string&)> onMessage) {
    if (!GtkInUse()) {
        return nullptr;
    }
    return std::make_unique<GtkTrackerView>(url, alerting, std::move(onMessage));
}
#endif

}  // namespace stubframework::platform::posix
