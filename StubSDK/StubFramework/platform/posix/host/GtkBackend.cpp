// The desktop window: our own borderless GTK window around a WebKitGTK view.
// The GLib main loop is the window thread's loop; work posted to the window
// thread is run from an idle callback.
#include "platform/posix/host/HostBackend.h"

#include <atomic>

#include "platform/posix/host/GtkTrackerView.h"

#ifdef STUB_HAVE_WEBKITGTK
#include <gtk/gtk.h>

#include <webkit2/webkit2.h>
#include <algorithm>
#include <string>

#include "platform/posix/host/SchemeBridge.h"
#include "platform/process.h"
#include "platform/windowthread.h"
#endif

namespace stubframework::platform::posix {

namespace {

// Set once a GTK window was made: from then on the GLib loop of the thread
// that made it serves hidden views too.
std::atomic<bool> gtkInUse{false};

}  // namespace

bool GtkInUse() {
    return gtkInUse;
}

#ifndef STUB_HAVE_WEBKITGTK
std::unique_ptr<HostBackend> CreateGtkBackend() {
    return nullptr;
}

void ServeGtkOnce() {}
#else
void ServeGtkOnce() {
    if (!gtkInUse || !g_main_context_acquire(nullptr)) {
        return;  // another thread runs the loop, or none ever will
    }
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    g_main_context_release(nullptr);
}

namespace {

// The response of a box's Retry button (GTK has none of its own).
constexpr gint kRetryResponse = 1;

gboolean RunPostedWork(gpointer /*unused*/) {
    RunPendingWindowWork();
    return G_SOURCE_REMOVE;
}

// Only text boxes and selections get the browser's menu.
gboolean OnContextMenu(WebKitWebView* /*view*/, WebKitContextMenu* /*menu*/, GdkEvent* /*event*/,
                       WebKitHitTestResult* hit, gpointer /*unused*/) {
    const bool browserMenu = webkit_hit_test_result_context_is_editable(hit) ||
                             webkit_hit_test_result_context_is_selection(hit);
    return browserMenu ? FALSE : TRUE;
}

// Message boxes raised by script (alert, confirm, ...) are swallowed.
gboolean OnScriptDialog(WebKitWebView* /*view*/, WebKitScriptDialog* /*dialog*/,
                        gpointer /*unused*/) {
    return TRUE;
}

bool IsOurPage(const std::string& uri) {
    return uri.rfind(std::string(SchemeBridge::kOrigin) + "/", 0) == 0;
}

// An address outside our pages goes to the desktop's browser, never into
// the installer's borderless window.
void HandOff(const std::string& uri) {
    if (uri.rfind("http://", 0) == 0 || uri.rfind("https://", 0) == 0 ||
        uri.rfind("mailto:", 0) == 0) {
        process::LaunchAsDesktopUser("xdg-open", {uri});
    }
}

// The installer's window shows our pages only. A link or form meant for
// another window, and a main-frame load that leaves our pages (a link,
// `location = ...`, a redirect) go to the desktop's browser instead; the
// page that was there stays. Frames load where they lead. The engine tells
// a main-frame load from a frame's only once the answer is in, before it is
// shown.
gboolean OnDecidePolicy(WebKitWebView* /*view*/, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer /*unused*/) {
    WebKitURIRequest* request = nullptr;
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
        request = webkit_navigation_action_get_request(
            webkit_navigation_policy_decision_get_navigation_action(
                WEBKIT_NAVIGATION_POLICY_DECISION(decision)));
    } else if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
        auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
        if (!webkit_response_policy_decision_is_main_frame_main_resource(response)) {
            return FALSE;
        }
        request = webkit_response_policy_decision_get_request(response);
    } else {
        return FALSE;
    }
    const gchar* uri = webkit_uri_request_get_uri(request);
    const std::string target = uri != nullptr ? uri : "";
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE && IsOurPage(target)) {
        return FALSE;
    }
    webkit_policy_decision_ignore(decision);
    HandOff(target);
    return TRUE;
}

// A main-frame address outside our pages that cannot be loaded here (no
// answer, a scheme of another program): the desktop's browser gets it, and
// no error page replaces the wizard.
gboolean OnLoadFailed(WebKitWebView* /*view*/, WebKitLoadEvent /*event*/, gchar* uri, GError* error,
                      gpointer /*unused*/) {
    const std::string target = uri != nullptr ? uri : "";
    if (IsOurPage(target)) {
        return FALSE;
    }
    // A load we stopped ourselves has been handed off already.
    const bool stoppedHere =
        g_error_matches(error, WEBKIT_POLICY_ERROR,
                        WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
        g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED);
    if (!stoppedHere) {
        HandOff(target);
    }
    return TRUE;
}

// window.open: the address goes to the desktop's browser; no window of ours.
GtkWidget* OnCreate(WebKitWebView* /*view*/, WebKitNavigationAction* action, gpointer /*unused*/) {
    const gchar* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    HandOff(uri != nullptr ? uri : "");
    return nullptr;
}

class GtkBackend final : public HostBackend {
public:
    GtkBackend() {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_decorated(GTK_WINDOW(window_), FALSE);
        // A context of our own: its pages come from our scheme, not a socket.
        context_ = webkit_web_context_new();
        SchemeBridge::Register(context_);
        view_ = webkit_web_view_new_with_context(context_);
        gtk_container_add(GTK_CONTAINER(window_), view_);
        g_signal_connect(view_, "context-menu", G_CALLBACK(OnContextMenu), nullptr);
        g_signal_connect(view_, "script-dialog", G_CALLBACK(OnScriptDialog), nullptr);
        g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), nullptr);
        g_signal_connect(view_, "load-failed", G_CALLBACK(OnLoadFailed), nullptr);
        g_signal_connect(view_, "create", G_CALLBACK(OnCreate), nullptr);
        g_signal_connect(view_, "notify::title", G_CALLBACK(OnTitle), this);
        g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
        loop_ = g_main_loop_new(nullptr, FALSE);
    }

    ~GtkBackend() override {
        SetWindowThreadWaker(nullptr);
        gtk_widget_destroy(window_);
        g_object_unref(context_);
        g_main_loop_unref(loop_);
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }

    GtkBackend(const GtkBackend&) = delete;
    GtkBackend& operator=(const GtkBackend&) = delete;

    std::unique_ptr<PageServer> ServePages(PageSource source) override {
        return std::make_unique<SchemeBridge>(std::move(source), context_, WEBKIT_WEB_VIEW(view_));
    }

    bool Open(const std::string& url, const std::string& /*launch*/) override {
        SetWindowThreadWaker([] { g_idle_add(RunPostedWork, nullptr); });
        webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view_), url.c_str());
        return true;
    }

    void RunUntilClosed() override {
        // Work already posted may close the window: then the loop never starts.
        RunPendingWindowWork();
        if (!closeRequested_) {
            g_main_loop_run(loop_);
        }
    }

    void RequestClose() override {
        closeRequested_ = true;
        g_main_loop_quit(loop_);
    }

    void Show(bool visible) override {
        hidden_ = !visible;
        if (visible) {
            gtk_widget_show_all(window_);
        } else {
            gtk_widget_hide(window_);
        }
    }

    void BeginDrag() override {
        GdkDisplay* display = gtk_widget_get_display(window_);
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
        int x = 0;
        int y = 0;
        gdk_device_get_position(pointer, nullptr, &x, &y);
        gtk_window_begin_move_drag(GTK_WINDOW(window_), 1, x, y, GDK_CURRENT_TIME);
    }

    void Activate() override {
        gtk_window_deiconify(GTK_WINDOW(window_));
        gtk_window_present(GTK_WINDOW(window_));
    }

    void Minimize() override { gtk_window_iconify(GTK_WINDOW(window_)); }

    // GTK sizes are logical pixels, which the display's scale factor already
    // turns into device pixels: only the font resolution beyond that counts.
    int Dpi() override {
        GdkScreen* screen = gtk_widget_get_screen(window_);
        const double resolution = gdk_screen_get_resolution(screen);
        return resolution > 0 ? static_cast<int>(resolution) : 96;
    }

    // The window has no frame: outer and client sizes are the same.
    window::Rect OuterFromClient(const window::Rect& client) override { return client; }

    window::Rect ClientRect() override {
        if (!placed_) {
            return {};
        }
        int width = 0;
        int height = 0;
        gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
        return {0, 0, width, height};
    }

    void PlacementReference(window::Rect& reference, window::Rect& workArea) override {
        GdkDisplay* display = gtk_widget_get_display(window_);
        GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
        int x = 0;
        int y = 0;
        gdk_device_get_position(pointer, nullptr, &x, &y);
        GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, x, y);
        GdkRectangle area{0, 0, 0, 0};
        if (monitor != nullptr) {
            gdk_monitor_get_workarea(monitor, &area);
        }
        workArea = {area.x, area.y, area.x + area.width, area.y + area.height};
        reference = workArea;
    }

    void SetPosition(const window::Rect& outer) override {
        gtk_window_move(GTK_WINDOW(window_), outer.left, outer.top);
        gtk_window_resize(GTK_WINDOW(window_), std::max(1, outer.Width()),
                          std::max(1, outer.Height()));
        // The first placement shows the window, unless the page hid it first.
        if (!placed_) {
            placed_ = true;
            if (!hidden_) {
                gtk_widget_show_all(window_);
            }
        }
    }

    window::MessageAnswer MessageBox(const std::string& text, const std::string& title,
                                     window::MessageButtons buttons, bool owned) override {
        using window::MessageAnswer;
        using window::MessageButtons;
        GtkWidget* dialog = gtk_message_dialog_new(
            owned ? GTK_WINDOW(window_) : nullptr, owned ? GTK_DIALOG_MODAL : GtkDialogFlags{},
            GTK_MESSAGE_OTHER, GTK_BUTTONS_NONE, "%s", text.c_str());
        gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
        if (!owned) {
            gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
        }
        if (buttons == MessageButtons::RetryCancel) {
            gtk_dialog_add_button(GTK_DIALOG(dialog), "_Retry", kRetryResponse);
        } else {
            gtk_dialog_add_button(GTK_DIALOG(dialog), "_OK", GTK_RESPONSE_OK);
        }
        if (buttons != MessageButtons::Ok) {
            gtk_dialog_add_button(GTK_DIALOG(dialog), "_Cancel", GTK_RESPONSE_CANCEL);
        }
        const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
        gtk_widget_destroy(dialog);
        // Closing the box counts as Cancel where there is one.
        switch (buttons) {
            case MessageButtons::Ok:
                return MessageAnswer::Ok;
            case MessageButtons::OkCancel:
                return response == GTK_RESPONSE_OK ? MessageAnswer::Ok : MessageAnswer::Cancel;
            case MessageButtons::RetryCancel:
                return response == kRetryResponse ? MessageAnswer::Retry : MessageAnswer::Cancel;
        }
        return MessageAnswer::Cancel;
    }

    bool SelectFolder(const std::string& initialFolder, std::string& chosen) override {
        GtkWidget* dialog = gtk_file_chooser_dialog_new(
            nullptr, GTK_WINDOW(window_), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
            GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
        if (!initialFolder.empty()) {
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), initialFolder.c_str());
        }
        bool accepted = false;
        if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
            if (gchar* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
                chosen = folder;
                g_free(folder);
                accepted = true;
            }
        }
        gtk_widget_destroy(dialog);
        return accepted;
    }

private:
    static void OnTitle(WebKitWebView* view, GParamSpec* /*signature*/, gpointer self) {
        const gchar* title = webkit_web_view_get_title(view);
        gtk_window_set_title(GTK_WINDOW(static_cast<GtkBackend*>(self)->window_),
                             title != nullptr ? title : "");
    }

    // The window manager's close button: ask to close, the loop's end destroys it.
    static gboolean OnDelete(GtkWidget* /*widget*/, GdkEvent* /*event*/, gpointer self) {
        static_cast<GtkBackend*>(self)->RequestClose();
        return TRUE;
    }

    GtkWidget* window_ = nullptr;
    WebKitWebContext* context_ = nullptr;
    GtkWidget* view_ = nullptr;
    GMainLoop* loop_ = nullptr;
    bool closeRequested_ = false;
    bool placed_ = false;
    bool hidden_ = false;  // hideWindow came and no showWindow since
};

}  // namespace

std::unique_ptr<HostBackend> CreateGtkBackend() {
    static const bool available = gtk_init_check(nullptr, nullptr) != FALSE;
    if (!available) {
        return nullptr;
    }
    gtkInUse = true;
    return std::make_unique<GtkBackend>();
}
#endif

}  // namespace stubframework::platform::posix
