// The tracker's page in a WebBrowser control nobody sees. The control lives
// on a thread of its own that does nothing but run its messages: the
// tracker's thread waits on its queue between events, and a page left
// without a message loop would neither load nor answer. The user of a view
// hands calls to that thread and waits a bounded time for each.
#include "platform/trackerview.h"

#include "platform/win32/Win32.h"
// After windows.h, which they need.
#include <mshtml.h>
#include <ole2.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/win32/BrowserSite.h"
#include "platform/win32/WindowThread.h"

namespace stubframework::platform::trackerview {
namespace {

using win32::EmbeddedBrowser;

// No script while the page is inactive, flat scroll bars, navigation in place.
constexpr DWORD kTrackerHostFlags = DOCHOSTUIFLAG_DISABLE_SCRIPT_INACTIVE |
                                    DOCHOSTUIFLAG_FLAT_SCROLLBAR |
                                    DOCHOSTUIFLAG_ENABLE_INPLACE_NAVIGATION;
constexpr UINT kRunMessage = WM_APP + 1;
constexpr wchar_t kHostClass[] = L"TrackerPageHost";
constexpr auto kStartWait = std::chrono::seconds(10);
constexpr auto kCallWait = std::chrono::seconds(10);
constexpr auto kStopWait = std::chrono::seconds(5);
constexpr std::uint32_t kErrorTimeout = 1460;  // ERROR_TIMEOUT
constexpr std::uint32_t kFail = 0x80004005u;   // E_FAIL

// Work for the page's thread; the browser is null once the page is gone.
using PageWork = std::function<void(EmbeddedBrowser*)>;

// What the page's thread and the view's user share; it outlives whichever
// side gives up first.
struct Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<PageWork> work;
    HWND host = nullptr;  // the page thread's window, while it runs
    bool started = false;
    bool failed = false;
    bool stopping = false;
    bool finished = false;
    std::atomic<bool> loaded{false};
};

// What the host window's procedure reaches: set while the page runs.
struct PageContext {
    Shared* shared = nullptr;
    EmbeddedBrowser* browser = nullptr;
};

void RunWork(Shared& shared, EmbeddedBrowser* browser) {
    for (;;) {
        PageWork next;
        {
            const std::lock_guard<std::mutex> lock(shared.lock);
            if (shared.work.empty()) {
                return;
            }
            next = std::move(shared.work.front());
            shared.work.pop_front();
        }
        try {
            next(browser);
        } catch (...) {
        }
    }
}

// Work is run from the procedure, so a modal box of the page's (alerting)
// does not hold it up.
LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRunMessage) {
        if (auto* context =
                reinterpret_cast<PageContext*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
            RunWork(*context->shared, context->browser);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A hidden popup; where no top-level window can be made (no desktop), a
// message-only window holds the control all the same.
HWND CreateHost() {
    static const bool registered = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = HostProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kHostClass;
        return RegisterClassExW(&windowClass) != 0;
    }();
    if (!registered) {
        return nullptr;
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (HWND popup = CreateWindowExW(WS_EX_TOOLWINDOW, kHostClass, L"", WS_POPUP, 0, 0, 800, 600,
                                     nullptr, nullptr, instance, nullptr)) {
        return popup;
    }
    return CreateWindowExW(0, kHostClass, L"", 0, 0, 0, 800, 600, HWND_MESSAGE, nullptr, instance,
                           nullptr);
}

CallResult NoDocument() {
    return {CallResult::Outcome::NoDocument, kFail, {}};
}

// The page's script object, or null.
com::Ptr<IDispatch> ScriptOf(EmbeddedBrowser& browser) {
    IDispatch* document = nullptr;
    if (FAILED(browser.Browser()->get_Document(&document)) || document == nullptr) {
        return {};
    }
    const auto held = com::Ptr<IDispatch>::Attach(document);
    IHTMLDocument2* html = nullptr;
    if (FAILED(held->QueryInterface(__uuidof(IHTMLDocument2), reinterpret_cast<void**>(&html)))) {
        return {};
    }
    const auto page = com::Ptr<IHTMLDocument2>::Attach(html);
    IDispatch* script = nullptr;
    if (FAILED(page->get_Script(&script))) {
        return {};
    }
    return com::Ptr<IDispatch>::Attach(script);
}

// Calls trackEvent(text) with the text as a value, never as script.
CallResult CallOnPage(EmbeddedBrowser* browser, const std::string& text) {
    if (browser == nullptr) {
        return NoDocument();
    }
    const com::Ptr<IDispatch> script = ScriptOf(*browser);
    if (!script) {
        return NoDocument();
    }
    const com::Bstr name("trackEvent");
    LPOLESTR names[] = {name.Get()};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        return {CallResult::Outcome::Failed, static_cast<std::uint32_t>(hr), {}};
    }
    com::Variant argument;
    argument.Get()->vt = VT_BSTR;
    argument.Get()->bstrVal = com::AllocString(text);
    DISPPARAMS params{argument.Get(), nullptr, 1, 0};
    com::Variant result;
    EXCEPINFO exception{};
    UINT argumentError = 0;
    hr = script->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Get(),
                        &exception, &argumentError);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (FAILED(hr)) {
        // A script exception carries its own code where it has one.
        const HRESULT code = hr == DISP_E_EXCEPTION && exception.scode != 0 ? exception.scode : hr;
        return {CallResult::Outcome::Failed, static_cast<std::uint32_t>(code), {}};
    }
    return {CallResult::Outcome::Success, 0, win32::TextOfValue(*result.Get())};
}

// Until it is told to stop, or the program's WM_QUIT comes.
void RunMessages(Shared& shared) {
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(shared.lock);
            if (shared.stopping) {
                return;
            }
        }
        MSG message;
        if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void Announce(Shared& shared, HWND host, bool failed) {
    const std::lock_guard<std::mutex> lock(shared.lock);
    shared.host = host;
    shared.started = true;
    shared.failed = failed;
    shared.changed.notify_all();
}

// The body of the page's thread.
void RunPage(const std::shared_ptr<Shared>& shared, const std::string& url, bool alerting,
             std::function<void(const std::string&)> onMessage) {
    const HRESULT ole = OleInitialize(nullptr);
    HWND host = SUCCEEDED(ole) ? CreateHost() : nullptr;
    const auto external = win32::ScriptMessageTarget::Create("PostJSMessage", std::move(onMessage));
    std::unique_ptr<EmbeddedBrowser> browser;
    if (host != nullptr) {
        win32::SiteOptions site;
        site.external = external.Get();
        site.hostFlags = kTrackerHostFlags;
        site.downloadControl = 0;
        site.swallowScriptDialogs = !alerting;
        site.swallowScriptErrors = !alerting;
        // A failed load has ended all the same: calls to it fail.
        win32::BrowserEventHandlers handlers;
        handlers.onDocumentComplete = [raw = shared.get()] { raw->loaded = true; };
        handlers.onNavigateError = handlers.onDocumentComplete;
        HRESULT error = S_OK;
        browser = EmbeddedBrowser::Create(host, std::move(site), std::move(handlers), error);
    }
    PageContext context{shared.get(), browser.get()};
    if (browser) {
        SetWindowLongPtrW(host, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&context));
        // Without alerting no script error or dialog shows at all.
        browser->Browser()->put_Silent(alerting ? VARIANT_FALSE : VARIANT_TRUE);
        if (FAILED(browser->Navigate(url))) {
            shared->loaded = true;
        }
    }
    Announce(*shared, host, !browser);
    if (browser) {
        RunMessages(*shared);
    }
    external->Detach();
    context.browser = nullptr;
    browser.reset();
    {
        const std::lock_guard<std::mutex> lock(shared->lock);
        shared->finished = true;
        shared->host = nullptr;
    }
    // Calls still queued learn that the page is gone.
    RunWork(*shared, nullptr);
    if (host != nullptr) {
        SetWindowLongPtrW(host, GWLP_USERDATA, 0);
        DestroyWindow(host);
    }
    if (SUCCEEDED(ole)) {
        OleUninitialize();
    }
    const std::lock_guard<std::mutex> lock(shared->lock);
    shared->changed.notify_all();
}

struct Call {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    CallResult result;
};

class Win32View final : public View {
public:
    Win32View(std::shared_ptr<Shared> shared, std::thread thread)
        : shared_(std::move(shared)), thread_(std::move(thread)) {}

    ~Win32View() override {
        HWND host = nullptr;
        {
            const std::lock_guard<std::mutex> lock(shared_->lock);
            shared_->stopping = true;
            host = shared_->host;
        }
        if (host != nullptr) {
            PostMessageW(host, WM_NULL, 0, 0);
        }
        std::unique_lock<std::mutex> lock(shared_->lock);
        const bool finished =
            shared_->changed.wait_for(lock, kStopWait, [this] { return shared_->finished; });
        lock.unlock();
        // A page stuck in a box of its own is left to the process's end.
        if (finished) {
            thread_.join();
        } else {
            thread_.detach();
        }
    }

    Win32View(const Win32View&) = delete;
    Win32View& operator=(const Win32View&) = delete;

    bool Loaded() override { return shared_->loaded; }

    CallResult CallTrackEvent(const std::string& text) override {
        auto call = std::make_shared<Call>();
        const bool posted = Post([call, text](EmbeddedBrowser* browser) {
            CallResult result = CallOnPage(browser, text);
            const std::lock_guard<std::mutex> lock(call->lock);
            call->result = std::move(result);
            call->done = true;
            call->changed.notify_all();
        });
        if (!posted) {
            return NoDocument();
        }
        std::unique_lock<std::mutex> lock(call->lock);
        if (!call->changed.wait_for(lock, kCallWait, [&call] { return call->done; })) {
            return {CallResult::Outcome::Failed, kErrorTimeout, {}};
        }
        return call->result;
    }

private:
    bool Post(PageWork work) {
        const std::lock_guard<std::mutex> lock(shared_->lock);
        if (shared_->finished || shared_->stopping || shared_->host == nullptr) {
            return false;
        }
        shared_->work.push_back(std::move(work));
        return PostMessageW(shared_->host, kRunMessage, 0, 0) != FALSE;
    }

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<View> Open(const std::string& url, bool alerting,
                           std::function<void(const std::string&)> onMessage) {
    auto shared = std::make_shared<Shared>();
    std::thread thread;
    try {
        thread = std::thread([shared, url, alerting, onMessage = std::move(onMessage)]() mutable {
            RunPage(shared, url, alerting, std::move(onMessage));
        });
    } catch (const std::system_error&) {
        return nullptr;
    }
    bool started = false;
    bool failed = true;
    {
        std::unique_lock<std::mutex> lock(shared->lock);
        started = shared->changed.wait_for(lock, kStartWait, [&shared] { return shared->started; });
        if (started) {
            failed = shared->failed;
        } else {
            shared->stopping = true;  // never came up: it stops if it ever does
        }
    }
    if (failed) {
        // One that came up and failed ends at once; one that never came up is left.
        if (started) {
            thread.join();
        } else {
            thread.detach();
        }
        return nullptr;
    }
    return std::make_unique<Win32View>(std::move(shared), std::move(thread));
}

bool WaitWhileServing(const std::function<bool()>& done, std::uint32_t timeoutMs) {
    // The pages serve themselves; this thread's own messages still run.
    return win32::PumpMessagesUntil(done, timeoutMs);
}

}  // namespace stubframework::platform::trackerview
