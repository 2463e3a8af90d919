// The window thread over a Win32 message queue, the browser's COM site
// objects called as the control would call them, and the host window where
// this Wine has a desktop to make it on (an X display; otherwise skipped).
#include "platform/win32/Win32.h"
// After windows.h, which they need.
#include <exdispid.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/trackerview.h"
#include "platform/win32/BrowserSite.h"
#include "platform/window.h"
#include "platform/windowthread.h"

namespace {

namespace platform = stubframework::platform;
namespace window = platform::window;
namespace win32 = platform::win32;
namespace com = platform::com;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kLongWaitMs = 20000;  // a bound for hangs, not a timing

// --- The window thread -------------------------------------------------------

class WindowThreadWin32Test : public ::testing::Test {
protected:
    void SetUp() override { platform::OpenWindowThread(); }
    void TearDown() override {
        platform::SetWindowThreadWaker(nullptr);
        platform::CloseWindowThread();
    }
};

TEST_F(WindowThreadWin32Test, WorkFromOtherThreadsRunsOnTheWindowThreadInPostOrder) {
    constexpr int kTasks = 200;
    std::vector<int> order;
    std::atomic<int> wrongThread{0};
    std::atomic<int> wakes{0};
    platform::SetWindowThreadWaker([&wakes] { ++wakes; });
    const auto windowThread = std::this_thread::get_id();
    std::thread poster([&] {
        EXPECT_FALSE(platform::IsWindowThread());
        EXPECT_TRUE(platform::IsWindowThreadOpen());
        for (int i = 0; i < kTasks; ++i) {
            ASSERT_TRUE(platform::PostToWindowThread([&, i] {
                wrongThread += std::this_thread::get_id() != windowThread ? 1 : 0;
                order.push_back(i);
            }));
        }
    });
    poster.join();
    EXPECT_TRUE(platform::IsWindowThread());
    EXPECT_TRUE(
        platform::PumpWindowThreadUntil([&] { return order.size() == kTasks; }, kLongWaitMs));
    ASSERT_EQ(order.size(), static_cast<std::size_t>(kTasks));
    for (int i = 0; i < kTasks; ++i) {
        EXPECT_EQ(order[i], i);
    }
    EXPECT_EQ(wrongThread.load(), 0);
    EXPECT_EQ(wakes.load(), kTasks);  // the waker hears of every post
}

TEST_F(WindowThreadWin32Test, ClosingDropsQueuedWorkAndRefusesLaterPosts) {
    bool ran = false;
    auto token = std::make_shared<int>(0);
    const std::weak_ptr<int> watch = token;
    ASSERT_TRUE(platform::PostToWindowThread([&ran, token = std::move(token)] { ran = true; }));
    platform::CloseWindowThread();
    // The dropped task is destroyed: whoever waits on what it holds hears of it.
    EXPECT_TRUE(watch.expired());
    EXPECT_FALSE(platform::IsWindowThreadOpen());
    EXPECT_FALSE(platform::IsWindowThread());
    EXPECT_FALSE(platform::PostToWindowThread([&ran] { ran = true; }));
    // Its wake may still be queued; it finds nothing to run.
    platform::OpenWindowThread();
    EXPECT_FALSE(platform::PumpWindowThreadUntil([&ran] { return ran; }, 100));
    EXPECT_FALSE(ran);
}

TEST_F(WindowThreadWin32Test, PumpEndsWhenDoneOrOnTimeOut) {
    bool flipped = false;
    ASSERT_TRUE(platform::PostToWindowThread([&flipped] { flipped = true; }));
    EXPECT_TRUE(platform::PumpWindowThreadUntil([&flipped] { return flipped; }, kLongWaitMs));
    // `done` may turn true with no message at all: another thread sets it
    // once the pump has asked a few times.
    std::atomic<int> asked{0};
    std::atomic<bool> late{false};
    std::thread setter([&] {
        while (asked.load() < 3) {
            std::this_thread::yield();
        }
        late = true;
    });
    EXPECT_TRUE(platform::PumpWindowThreadUntil(
        [&] {
            ++asked;
            return late.load();
        },
        kLongWaitMs));
    setter.join();
    EXPECT_FALSE(platform::PumpWindowThreadUntil([] { return false; }, 150));
}

TEST_F(WindowThreadWin32Test, RunWindowLoopRunsWorkUntilQuitFromAnotherThread) {
    std::vector<int> ran;
    std::thread poster([&ran] {
        for (int i = 0; i < 20; ++i) {
            platform::PostToWindowThread([&ran, i] { ran.push_back(i); });
        }
        // The quit comes after the work, through the same queue's wake.
        platform::PostToWindowThread([] { platform::QuitWindowLoop(); });
    });
    platform::RunWindowLoop();
    poster.join();
    EXPECT_EQ(ran.size(), 20u);
    // A quit from another thread, started by the loop itself, ends it.
    std::thread quitter;
    ASSERT_TRUE(platform::PostToWindowThread(
        [&quitter] { quitter = std::thread([] { platform::QuitWindowLoop(); }); }));
    platform::RunWindowLoop();
    quitter.join();
}

TEST_F(WindowThreadWin32Test, ClosingFromAnotherThreadEndsTheLoop) {
    // Started by the loop itself, so the close comes while it runs.
    std::thread closer;
    ASSERT_TRUE(platform::PostToWindowThread(
        [&closer] { closer = std::thread([] { platform::CloseWindowThread(); }); }));
    platform::RunWindowLoop();
    closer.join();
    EXPECT_FALSE(platform::IsWindowThreadOpen());
}

// A modal box or a window drag runs a loop of its own that knows nothing of
// ours: posted work must still reach the page meanwhile.
TEST_F(WindowThreadWin32Test, WorkRunsInsideAForeignModalLoop) {
    bool second = false;
    bool sawSecondInside = false;
    ASSERT_TRUE(platform::PostToWindowThread([&] {
        const auto until = Clock::now() + std::chrono::milliseconds(kLongWaitMs);
        MSG message;
        while (!second && Clock::now() < until) {
            if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            }
        }
        sawSecondInside = second;
    }));
    std::thread poster([&second] { platform::PostToWindowThread([&second] { second = true; }); });
    EXPECT_TRUE(platform::PumpWindowThreadUntil([&] { return sawSecondInside; }, kLongWaitMs));
    poster.join();
}

TEST_F(WindowThreadWin32Test, AThrowingTaskDoesNotStopTheWorkAfterIt) {
    bool after = false;
    ASSERT_TRUE(platform::PostToWindowThread([] { throw std::runtime_error("page gone"); }));
    ASSERT_TRUE(platform::PostToWindowThread([&after] { after = true; }));
    EXPECT_TRUE(platform::PumpWindowThreadUntil([&after] { return after; }, kLongWaitMs));
}

// --- The COM site objects ----------------------------------------------------

// An IDispatch that only counts its references.
class CountedDispatch final : public IDispatch {
public:
    ULONG Count() const { return references_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the stack
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

private:
    ULONG references_ = 1;
};

// A message-only window for the site to report.
class SiteWindow {
public:
    SiteWindow()
        : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 300, 200, HWND_MESSAGE, nullptr,
                                  nullptr, nullptr)) {}
    ~SiteWindow() { DestroyWindow(window_); }
    SiteWindow(const SiteWindow&) = delete;
    SiteWindow& operator=(const SiteWindow&) = delete;
    HWND Get() const { return window_; }

private:
    HWND window_;
};

template <class Interface>
Interface* Query(IUnknown* object) {
    void* found = nullptr;
    EXPECT_EQ(object->QueryInterface(__uuidof(Interface), &found), S_OK);
    return static_cast<Interface*>(found);
}

TEST(BrowserSiteWin32Test, AnswersExactlyItsInterfacesWithOneIdentity) {
    const SiteWindow window;
    auto site = win32::BrowserSite::Create(window.Get(), {});
    IUnknown* self = static_cast<IDispatch*>(site.Get());
    const IID supported[] = {IID_IUnknown,
                             IID_IDispatch,
                             __uuidof(IOleClientSite),
                             __uuidof(IOleWindow),
                             __uuidof(IOleInPlaceSite),
                             __uuidof(IOleInPlaceUIWindow),
                             __uuidof(IOleInPlaceFrame),
                             __uuidof(IDocHostUIHandler),
                             __uuidof(IDocHostShowUI),
                             __uuidof(IOleCommandTarget)};
    for (const IID& iid : supported) {
        IUnknown* answer = nullptr;
        ASSERT_EQ(self->QueryInterface(iid, reinterpret_cast<void**>(&answer)), S_OK);
        ASSERT_NE(answer, nullptr);
        IUnknown* identity = nullptr;
        ASSERT_EQ(answer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
        EXPECT_EQ(identity, self);
        identity->Release();
        answer->Release();
    }
    const IID refused[] = {__uuidof(IDocHostUIHandler2),
                           __uuidof(IOleInPlaceSiteEx),
                           __uuidof(IOleInPlaceSiteWindowless),
                           __uuidof(IOleControlSite),
                           __uuidof(IServiceProvider),
                           __uuidof(IOleDocumentSite),
                           __uuidof(IDispatchEx),
                           __uuidof(DWebBrowserEvents2)};
    for (const IID& iid : refused) {
        void* answer = site.Get();  // anything but null
        EXPECT_EQ(self->QueryInterface(iid, &answer), E_NOINTERFACE);
        EXPECT_EQ(answer, nullptr);
    }
    EXPECT_EQ(self->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    // Every answer above was released: only the creation reference is left.
    EXPECT_EQ(self->AddRef(), 2u);
    EXPECT_EQ(self->Release(), 1u);
}

TEST(BrowserSiteWin32Test, HandsOutTheExternalObjectWithAReferenceAndLetsGoOfIt) {
    const SiteWindow window;
    CountedDispatch external;
    win32::SiteOptions options;
    options.external = &external;
    auto site = win32::BrowserSite::Create(window.Get(), options);
    EXPECT_EQ(external.Count(), 2u);  // the site's own
    auto* handler = Query<IDocHostUIHandler>(static_cast<IDispatch*>(site.Get()));
    IDispatch* given = nullptr;
    EXPECT_EQ(handler->GetExternal(&given), S_OK);
    EXPECT_EQ(given, &external);
    EXPECT_EQ(external.Count(), 3u);
    given->Release();
    handler->Release();
    site.Reset();  // the last reference: the site goes, and its hold with it
    EXPECT_EQ(external.Count(), 1u);

    auto bare = win32::BrowserSite::Create(window.Get(), {});
    given = &external;
    EXPECT_EQ(bare->GetExternal(&given), S_FALSE);
    EXPECT_EQ(given, nullptr);
    EXPECT_EQ(bare->GetExternal(nullptr), E_POINTER);
}

TEST(BrowserSiteWin32Test, DetachLetsGoOfTheExternalObjectWhileTheControlHoldsTheSite) {
    const SiteWindow window;
    CountedDispatch external;
    win32::SiteOptions options;
    options.external = &external;
    auto site = win32::BrowserSite::Create(window.Get(), options);
    site->Detach();
    EXPECT_EQ(external.Count(), 1u);
    IDispatch* given = &external;
    EXPECT_EQ(site->GetExternal(&given), S_FALSE);
    EXPECT_EQ(given, nullptr);
    HWND reported = window.Get();
    EXPECT_EQ(site->GetWindow(&reported), E_FAIL);
    EXPECT_EQ(reported, nullptr);
}

TEST(BrowserSiteWin32Test, OnlyTextBoxesSelectionsAndScrollBarsGetTheBrowsersMenu) {
    const SiteWindow window;
    auto site = win32::BrowserSite::Create(window.Get(), {});
    POINT point{10, 10};
    for (const DWORD kind : {CONTEXT_MENU_DEFAULT, CONTEXT_MENU_IMAGE, CONTEXT_MENU_TABLE,
                             CONTEXT_MENU_ANCHOR, CONTEXT_MENU_UNKNOWN, CONTEXT_MENU_MEDIA}) {
        EXPECT_EQ(site->ShowContextMenu(kind, &point, nullptr, nullptr), S_OK) << kind;
    }
    for (const DWORD kind : {CONTEXT_MENU_CONTROL, CONTEXT_MENU_TEXTSELECT, CONTEXT_MENU_VSCROLL,
                             CONTEXT_MENU_HSCROLL}) {
        EXPECT_EQ(site->ShowContextMenu(kind, &point, nullptr, nullptr), S_FALSE) << kind;
    }
}

TEST(BrowserSiteWin32Test, HostInfoAndAmbientDownloadControlAreTheWizards) {
    const SiteWindow window;
    auto site = win32::BrowserSite::Create(window.Get(), {});
    DOCHOSTUIINFO info{};
    info.cbSize = sizeof(info);
    info.dwDoubleClick = 99;
    ASSERT_EQ(site->GetHostInfo(&info), S_OK);
    EXPECT_EQ(info.cbSize, sizeof(info));
    for (const DWORD flag :
         {DOCHOSTUIFLAG_DIALOG, DOCHOSTUIFLAG_DISABLE_HELP_MENU, DOCHOSTUIFLAG_NO3DBORDER,
          DOCHOSTUIFLAG_NO3DOUTERBORDER, DOCHOSTUIFLAG_DPI_AWARE}) {
        EXPECT_NE(info.dwFlags & flag, 0u) << flag;
    }
    EXPECT_EQ(info.dwDoubleClick, static_cast<DWORD>(DOCHOSTUIDBLCLK_DEFAULT));
    EXPECT_EQ(site->GetHostInfo(nullptr), E_POINTER);

    com::Variant value;
    EXPECT_EQ(site->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr,
                           value.Get(), nullptr, nullptr),
              S_OK);
    EXPECT_EQ(value.Get()->vt, VT_I4);
    EXPECT_EQ(value.Get()->lVal, 0x2070);
    EXPECT_EQ(site->Invoke(12345, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, value.Get(), nullptr,
                           nullptr),
              DISP_E_MEMBERNOTFOUND);
    win32::SiteOptions quiet;
    quiet.downloadControl = 0;
    auto plain = win32::BrowserSite::Create(window.Get(), quiet);
    EXPECT_EQ(plain->Invoke(DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr,
                            value.Get(), nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST(BrowserSiteWin32Test, WindowContextIsTheClientAreaWithTheSiteAsFrame) {
    const SiteWindow window;
    auto site = win32::BrowserSite::Create(window.Get(), {});
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = &*site;  // anything but null
    RECT position{};
    RECT clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof(info);
    ASSERT_EQ(site->GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(document, nullptr);
    RECT client{};
    GetClientRect(window.Get(), &client);
    EXPECT_TRUE(EqualRect(&position, &client));
    EXPECT_TRUE(EqualRect(&clip, &client));
    EXPECT_EQ(info.hwndFrame, window.Get());
    EXPECT_FALSE(info.fMDIApp);
    HWND frameWindow = nullptr;
    EXPECT_EQ(frame->GetWindow(&frameWindow), S_OK);
    EXPECT_EQ(frameWindow, window.Get());
    EXPECT_EQ(frame->Release(), 1u);  // the reference handed out, and ours
}

TEST(BrowserSiteWin32Test, ScriptBoxesAndErrorsAreSwallowedOnlyWhereAsked) {
    const SiteWindow window;
    auto quiet = win32::BrowserSite::Create(window.Get(), {});
    LRESULT answer = IDOK;
    wchar_t text[] = L"alert";
    EXPECT_EQ(quiet->ShowMessage(window.Get(), text, text, MB_OKCANCEL, nullptr, 0, &answer), S_OK);
    EXPECT_EQ(answer, IDCANCEL);  // a confirm nobody saw is not confirmed
    const GUID handler = {
        0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
    com::Variant keepRunning;
    EXPECT_EQ(quiet->Exec(&handler, OLECMDID_SHOWSCRIPTERROR, 0, nullptr, keepRunning.Get()),
              OLECMDERR_E_NOTSUPPORTED);
    EXPECT_EQ(quiet->Exec(&handler, 6041, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(quiet->Exec(&IID_IUnknown, 6, 0, nullptr, nullptr), OLECMDERR_E_UNKNOWNGROUP);

    win32::SiteOptions alerting;
    alerting.swallowScriptDialogs = false;
    alerting.swallowScriptErrors = true;
    auto loud = win32::BrowserSite::Create(window.Get(), alerting);
    EXPECT_EQ(loud->ShowMessage(window.Get(), text, text, MB_OK, nullptr, 0, &answer), S_FALSE);
    EXPECT_EQ(loud->Exec(&handler, OLECMDID_SHOWSCRIPTERROR, 0, nullptr, keepRunning.Get()), S_OK);
    EXPECT_EQ(keepRunning.Get()->vt, VT_BOOL);
    EXPECT_EQ(keepRunning.Get()->boolVal, VARIANT_TRUE);
}

TEST(BrowserSiteWin32Test, TheDocumentTitleCommandReachesTheWindowAsUtf8) {
    const SiteWindow window;
    std::vector<std::string> titles;
    win32::SiteOptions options;
    options.onTitle = [&titles](const std::string& title) { titles.push_back(title); };
    auto site = win32::BrowserSite::Create(window.Get(), options);
    com::Variant title;
    title.Get()->vt = VT_BSTR;
    title.Get()->bstrVal = com::AllocString("Instalaci\xC3\xB3n");
    EXPECT_EQ(site->Exec(nullptr, OLECMDID_SETTITLE, 0, title.Get(), nullptr), S_OK);
    EXPECT_EQ(site->Exec(nullptr, OLECMDID_SETTITLE, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(site->Exec(nullptr, OLECMDID_PRINT, 0, nullptr, nullptr), E_NOTIMPL);
    EXPECT_EQ(titles, std::vector<std::string>{"Instalaci\xC3\xB3n"});
}

// A folder name must not end the path early ('#', '?') nor read as an
// escape ('%'); a user's non-ASCII name stays text, not ANSI bytes.
TEST(BrowserSiteWin32Test, PageUrlsKeepEveryFolderNameIntact) {
    EXPECT_EQ(win32::FileUrlOf("C:\\Temp\\a b\\x#1%?\\Load.html"),
              "file:///C:/Temp/a%20b/x%231%25%3F/Load.html");
    EXPECT_EQ(win32::FileUrlOf("C:\\Users\\Jos\xC3\xA9\\Load.html"),
              "file:///C:/Users/Jos\xC3\xA9/Load.html");
    EXPECT_EQ(win32::FileUrlOf("\\\\server\\share\\Load.html"), "file://server/share/Load.html");
}

// DWebBrowserEvents2 as the control fires it: arguments in reverse order.
HRESULT Fire(IDispatch* sink, DISPID id, std::vector<VARIANT> arguments) {
    DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
    return sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

VARIANT DispatchArgument(IDispatch* object) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_DISPATCH;
    value.pdispVal = object;
    return value;
}

TEST(BrowserEventsWin32Test, OnlyTheTopLevelDocumentCountsAsComplete) {
    int complete = 0;
    int failed = 0;
    std::string title;
    win32::BrowserEventHandlers handlers;
    handlers.onDocumentComplete = [&complete] { ++complete; };
    handlers.onNavigateError = [&failed] { ++failed; };
    handlers.onTitle = [&title](const std::string& text) { title = text; };
    auto sink = win32::BrowserEvents::Create(handlers);
    CountedDispatch browser;
    CountedDispatch frame;
    sink->SetTopLevel(&browser);
    VARIANT url;
    VariantInit(&url);
    EXPECT_EQ(Fire(sink.Get(), DISPID_DOCUMENTCOMPLETE, {url, DispatchArgument(&frame)}), S_OK);
    EXPECT_EQ(complete, 0);
    EXPECT_EQ(Fire(sink.Get(), DISPID_DOCUMENTCOMPLETE, {url, DispatchArgument(&browser)}), S_OK);
    EXPECT_EQ(complete, 1);
    EXPECT_EQ(
        Fire(sink.Get(), DISPID_NAVIGATEERROR, {url, url, url, url, DispatchArgument(&browser)}),
        S_OK);
    EXPECT_EQ(failed, 1);
    com::Variant text;
    text.Get()->vt = VT_BSTR;
    text.Get()->bstrVal = com::AllocString("Setup");
    EXPECT_EQ(Fire(sink.Get(), DISPID_TITLECHANGE, {*text.Get()}), S_OK);
    EXPECT_EQ(title, "Setup");
    EXPECT_EQ(browser.Count(), 1u);  // compared, never held
    // After Detach the window that listened may be gone.
    sink->Detach();
    EXPECT_EQ(Fire(sink.Get(), DISPID_DOCUMENTCOMPLETE, {url, DispatchArgument(&browser)}), S_OK);
    EXPECT_EQ(complete, 1);

    void* answer = nullptr;
    EXPECT_EQ(sink->QueryInterface(__uuidof(DWebBrowserEvents2), &answer), S_OK);
    static_cast<IUnknown*>(answer)->Release();
    answer = &complete;
    EXPECT_EQ(sink->QueryInterface(__uuidof(IOleClientSite), &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
}

// A by-reference VARIANT_BOOL, as the control passes Cancel.
VARIANT CancelArgument(VARIANT_BOOL* cancel) {
    *cancel = VARIANT_FALSE;
    VARIANT value;
    value.vt = VT_BYREF | VT_BOOL;
    value.pboolVal = cancel;
    return value;
}

TEST(BrowserEventsWin32Test, LeavingNavigationsAndNewWindowsAreCancelledWhenHandedOff) {
    std::vector<std::string> offered;
    win32::BrowserEventHandlers handlers;
    handlers.onLeave = [&offered](const std::string& url) {
        offered.push_back(url);
        return url.rfind("https:", 0) == 0;
    };
    auto sink = win32::BrowserEvents::Create(handlers);
    CountedDispatch browser;
    CountedDispatch frame;
    sink->SetTopLevel(&browser);
    VARIANT none;
    VariantInit(&none);
    com::Variant url;
    url.Get()->vt = VT_BSTR;
    // (pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel), the
    // address as a reference to a VARIANT holding a BSTR.
    const auto navigate = [&](IDispatch* source, const std::string& address) {
        SysFreeString(std::exchange(url.Get()->bstrVal, com::AllocString(address)));
        VARIANT urlArgument;
        urlArgument.vt = VT_BYREF | VT_VARIANT;
        urlArgument.pvarVal = url.Get();
        VARIANT_BOOL cancel;
        EXPECT_EQ(Fire(sink.Get(), DISPID_BEFORENAVIGATE2,
                       {CancelArgument(&cancel), none, none, none, none, urlArgument,
                        DispatchArgument(source)}),
                  S_OK);
        return cancel == VARIANT_TRUE;
    };
    EXPECT_TRUE(navigate(&browser, "https://example.com/eula"));
    EXPECT_FALSE(navigate(&browser, "file:///C:/pages/next.html"));
    EXPECT_FALSE(navigate(&frame, "https://example.com/frame"));  // frames load where they lead
    EXPECT_EQ(offered,
              (std::vector<std::string>{"https://example.com/eula", "file:///C:/pages/next.html"}));

    // (ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl): never a window of
    // ours, wherever it leads.
    offered.clear();
    for (const char* address : {"https://example.com/help", "file:///C:/pages/popup.html"}) {
        SysFreeString(std::exchange(url.Get()->bstrVal, com::AllocString(address)));
        VARIANT_BOOL cancel;
        EXPECT_EQ(Fire(sink.Get(), DISPID_NEWWINDOW3,
                       {*url.Get(), none, none, CancelArgument(&cancel), none}),
                  S_OK);
        EXPECT_EQ(cancel, VARIANT_TRUE) << address;
    }
    EXPECT_EQ(offered, (std::vector<std::string>{"https://example.com/help",
                                                 "file:///C:/pages/popup.html"}));
}

TEST(ScriptMessageTargetWin32Test, HandsTheArgumentOnAsTextUntilDetached) {
    std::vector<std::string> messages;
    auto target = win32::ScriptMessageTarget::Create(
        "PostJSMessage", [&messages](const std::string& text) { messages.push_back(text); });
    wchar_t lower[] = L"postjsmessage";
    wchar_t other[] = L"PostJSMessages";
    LPOLESTR names[] = {lower};
    DISPID id = 0;
    ASSERT_EQ(target->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, win32::ScriptMessageTarget::kMethodId);
    names[0] = other;
    EXPECT_EQ(target->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);

    const auto call = [&target](std::vector<VARIANT> arguments, WORD flags = DISPATCH_METHOD) {
        DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
        return target->Invoke(win32::ScriptMessageTarget::kMethodId, IID_NULL, 0, flags, &params,
                              nullptr, nullptr, nullptr);
    };
    com::Variant text;
    text.Get()->vt = VT_BSTR;
    text.Get()->bstrVal = com::AllocString("eventTracked");
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 42;
    EXPECT_EQ(call({*text.Get()}), S_OK);
    EXPECT_EQ(call({number}), S_OK);
    EXPECT_EQ(call({}), S_OK);
    EXPECT_EQ(call({number, *text.Get()}), S_OK);  // the first argument is the last one
    EXPECT_EQ(call({*text.Get()}, DISPATCH_PROPERTYPUT), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(messages, (std::vector<std::string>{"eventTracked", "42", "", "eventTracked"}));
    target->Detach();
    EXPECT_EQ(call({*text.Get()}), S_OK);
    EXPECT_EQ(messages.size(), 4u);
}

// --- The tracker's view ------------------------------------------------------

TEST(TrackerViewWin32Test, APageWithoutTrackEventFailsTheCallAndTheViewGoes) {
    std::atomic<int> messages{0};
    {
        auto view = platform::trackerview::Open("file:///C:/no-such-folder/tracker.html", false,
                                                [&messages](const std::string&) { ++messages; });
        ASSERT_NE(view, nullptr);
        const auto result = view->CallTrackEvent("install.start");
        EXPECT_NE(result.outcome, platform::trackerview::CallResult::Outcome::Success);
        EXPECT_NE(result.error, 0u);
    }
    EXPECT_EQ(messages.load(), 0);
}

std::atomic<bool> timerFired{false};

void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) {
    timerFired = true;
}

TEST(TrackerViewWin32Test, WaitingRunsTheWaitingThreadsMessages) {
    // A timer's message is delivered only by a thread that pumps.
    timerFired = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, OnTimer);
    ASSERT_NE(timer, 0u);
    EXPECT_TRUE(
        platform::trackerview::WaitWhileServing([] { return timerFired.load(); }, kLongWaitMs));
    KillTimer(nullptr, timer);
    EXPECT_FALSE(platform::trackerview::WaitWhileServing([] { return false; }, 50));
}

// --- The host window ---------------------------------------------------------

// Top-level windows need a desktop, which Wine has only with an X display.
bool DesktopAvailable() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 nullptr, nullptr);
    if (probe == nullptr) {
        return false;
    }
    DestroyWindow(probe);
    return true;
}

class PageFolder {
public:
    PageFolder() : path_(std::filesystem::temp_directory_path() / "window-win32-test#1") {
        std::filesystem::create_directories(path_);
        std::ofstream(path_ / "Load.html") << "<html><head><title>Setup</title></head>"
                                              "<body>page</body></html>";
    }
    ~PageFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    PageFolder(const PageFolder&) = delete;
    PageFolder& operator=(const PageFolder&) = delete;
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

class RecordingEvents final : public window::HostEvents {
public:
    std::function<void(window::Handle)> onCreated;
    window::Handle created = nullptr;
    int destroyed = 0;
    std::vector<std::string> notes;

    void OnWindowCreated(window::Handle handle) override {
        created = handle;
        if (onCreated) {
            onCreated(handle);
        }
    }
    void OnDocumentComplete() override {}
    void OnWindowDestroyed() override { ++destroyed; }
    void OnNote(const std::string& text) override { notes.push_back(text); }
};

class HostWindowWin32Test : public WindowThreadWin32Test {
protected:
    void SetUp() override {
        if (!DesktopAvailable()) {
            GTEST_SKIP() << "no desktop for top-level windows under this Wine (no X display)";
        }
        WindowThreadWin32Test::SetUp();
    }

    bool Run(RecordingEvents& events) {
        return window::RunHostWindow(pages_.Path(), "Load.html", nullptr, events, {});
    }

    PageFolder pages_;
};

TEST_F(HostWindowWin32Test, IsABorderlessPopupThatThePlacementHelpersMoveAndSize) {
    RecordingEvents events;
    bool checked = false;
    events.onCreated = [&checked](window::Handle handle) {
        platform::PostToWindowThread([handle, &checked] {
            auto* hwnd = static_cast<HWND>(handle);
            EXPECT_TRUE(window::IsHostWindow(handle));
            wchar_t name[16] = {};
            GetClassNameW(hwnd, name, 16);
            EXPECT_STREQ(name, L"HTMLUI");
            EXPECT_TRUE((GetWindowLongW(hwnd, GWL_STYLE) & WS_POPUP) != 0);
            EXPECT_TRUE((GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0);
            // No frame: the outer rectangle is the client one.
            const window::Rect client{0, 0, 400, 200};
            const window::Rect outer = window::OuterFromClient(handle, client);
            EXPECT_EQ(outer.Width(), 400);
            EXPECT_EQ(outer.Height(), 200);
            window::SetPosition(handle, {30, 40, 430, 240});
            const window::Rect now = window::ClientRect(handle);
            EXPECT_EQ(now.Width(), 400);
            EXPECT_EQ(now.Height(), 200);
            RECT placed{};
            GetWindowRect(hwnd, &placed);
            EXPECT_EQ(placed.left, 30);
            EXPECT_EQ(placed.top, 40);
            // Without an owner the work area is both reference and limit.
            window::Rect reference;
            window::Rect workArea;
            window::PlacementReference(handle, reference, workArea);
            EXPECT_GT(workArea.Width(), 0);
            EXPECT_GT(workArea.Height(), 0);
            EXPECT_EQ(reference.left, workArea.left);
            EXPECT_EQ(reference.bottom, workArea.bottom);
            EXPECT_GE(window::Dpi(handle), 96);
            window::Show(handle, false);
            EXPECT_FALSE(IsWindowVisible(hwnd));
            window::Show(handle, true);
            EXPECT_TRUE(IsWindowVisible(hwnd));
            window::Minimize(handle);
            EXPECT_TRUE(IsIconic(hwnd));
            window::Activate(handle);
            EXPECT_FALSE(IsIconic(hwnd));
            checked = true;
            window::RequestClose(handle);
        });
    };
    ASSERT_TRUE(Run(events)) << (events.notes.empty() ? "" : events.notes.front());
    EXPECT_TRUE(checked);
    EXPECT_EQ(events.destroyed, 1);
    EXPECT_FALSE(window::IsHostWindow(events.created));
    EXPECT_TRUE(events.notes.empty());
}

TEST_F(HostWindowWin32Test, TheCloseBoxAndWorkFromOtherThreadsEndTheLoop) {
    RecordingEvents events;
    std::thread worker;
    events.onCreated = [&worker](window::Handle handle) {
        worker = std::thread([handle] {
            platform::PostToWindowThread(
                [handle] { PostMessageW(static_cast<HWND>(handle), WM_CLOSE, 0, 0); });
        });
    };
    ASSERT_TRUE(Run(events));
    worker.join();
    EXPECT_EQ(events.destroyed, 1);
    // Close only touches our own windows.
    const SiteWindow other;
    EXPECT_FALSE(window::IsHostWindow(other.Get()));
    window::RequestClose(other.Get());
    EXPECT_TRUE(IsWindow(other.Get()));
}

TEST(WindowWin32Test, WithoutAWindowTheHelpersFallBackToTheScreen) {
    EXPECT_FALSE(window::IsHostWindow(nullptr));
    EXPECT_GE(window::Dpi(nullptr), 96);
    const window::Rect client{0, 0, 646, 506};
    const window::Rect outer = window::OuterFromClient(nullptr, client);
    EXPECT_EQ(outer.Width(), 646);
    EXPECT_EQ(outer.Height(), 506);
    EXPECT_EQ(window::ClientRect(nullptr).Width(), 0);
    window::Rect reference;
    window::Rect workArea;
    window::PlacementReference(nullptr, reference, workArea);
    EXPECT_GT(workArea.Width(), 0);
    EXPECT_EQ(reference.right, workArea.right);
}

// Where no box can be shown (no desktop), nobody chose: Cancel where offered.
TEST(WindowWin32Test, ABoxThatCannotBeShownCountsAsCancel) {
    if (DesktopAvailable()) {
        GTEST_SKIP() << "a desktop would show the box and wait for an answer";
    }
    using window::MessageAnswer;
    using window::MessageButtons;
    EXPECT_EQ(window::ShowMessageBox(nullptr, "text", "title", MessageButtons::OkCancel),
              MessageAnswer::Cancel);
    EXPECT_EQ(window::ShowMessageBox(nullptr, "text", "title", MessageButtons::RetryCancel),
              MessageAnswer::Cancel);
    EXPECT_EQ(window::ShowMessageBox(nullptr, "text", "title", MessageButtons::Ok),
              MessageAnswer::Ok);
}

}  // namespace
