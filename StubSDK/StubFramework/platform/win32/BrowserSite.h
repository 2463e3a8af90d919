// The WebBrowser control in a window of ours: the OLE site that hosts it,
// the sink of its events, a window.external with one method, and the
// control's set-up and take-down. Shared by the host window and the
// tracker's hidden page; everything here lives on the thread that made it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/com.h"
#include "platform/win32/Win32.h"
// After windows.h, which they need.
#include <docobj.h>
#include <exdisp.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <oleidl.h>

namespace stubframework::platform::win32 {

// DOCHOSTUIINFO flags of the wizard window: a dialog without help menu or
// 3-D borders, navigating in place, themed and DPI-aware.
inline constexpr DWORD kWizardHostFlags =
    DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_DISABLE_HELP_MENU | DOCHOSTUIFLAG_NO3DBORDER |
    DOCHOSTUIFLAG_ENABLE_INPLACE_NAVIGATION | DOCHOSTUIFLAG_THEME | DOCHOSTUIFLAG_NO3DOUTERBORDER |
    DOCHOSTUIFLAG_DPI_AWARE;
// Images, videos and background sounds, and every load fresh from its source.
inline constexpr LONG kWizardDownloadControl =
    DLCTL_DLIMAGES | DLCTL_VIDEOS | DLCTL_BGSOUNDS | DLCTL_RESYNCHRONIZE;
// The host commands the wizard's site takes without doing anything.
inline constexpr DWORD kIgnoredHostCommands[] = {6, 6041};

struct SiteOptions {
    // The page's window.external; the site holds a reference until Detach.
    IDispatch* external = nullptr;
    DWORD hostFlags = kWizardHostFlags;
    // The ambient download control; 0 leaves it to the browser.
    LONG downloadControl = kWizardDownloadControl;
    // Script message boxes (alert, confirm) are shown by nobody; confirm
    // then answers Cancel.
    bool swallowScriptDialogs = true;
    // Script error reports are shown by nobody and the scripts go on.
    bool swallowScriptErrors = false;
    // OLECMDID_SETTITLE from the document.
    std::function<void(const std::string&)> onTitle;
};

// The file:/// URL of a local path (a drive path or \\server\share): the
// characters a URL would read otherwise ('%', '#', '?', spaces) escaped,
// everything else, non-ASCII text too, as it stands.
std::string FileUrlOf(const std::string& path);

// The text of a script value, the way the script would print it; empty for
// undefined and null.
std::string TextOfValue(const VARIANT& value);

// The client site, in-place site and frame of one control, with the
// document host's UI handler. One reference count for all its interfaces.
class BrowserSite final : public IDispatch,
                          public IOleClientSite,
                          public IOleInPlaceSite,
                          public IOleInPlaceFrame,
                          public IDocHostUIHandler,
                          public IDocHostShowUI,
                          public IOleCommandTarget {
public:
    static com::Ptr<BrowserSite> Create(HWND window, SiteOptions options);
    BrowserSite(const BrowserSite&) = delete;
    BrowserSite& operator=(const BrowserSite&) = delete;

    // Lets go of the window, the external object and the active object:
    // the control may hold the site longer than the window lives.
    void Detach();
    // The control's active object, for keyboard messages; may be null.
    IOleInPlaceActiveObject* ActiveObject() const { return activeObject_.Get(); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch: the ambient properties.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
    HRESULT STDMETHODCALLTYPE ShowObject() override;
    HRESULT STDMETHODCALLTYPE OnShowWindow(WINBOOL show) override;
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override;

    // IOleWindow, for the in-place site and the frame alike.
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL enter) override;

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override;
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override;
    HRESULT STDMETHODCALLTYPE OnUIActivate() override;
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame,
                                               IOleInPlaceUIWindow** document, LPRECT position,
                                               LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
    HRESULT STDMETHODCALLTYPE Scroll(SIZE extent) override;
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(WINBOOL undoable) override;
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override;
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override;
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT position) override;

    // IOleInPlaceUIWindow and IOleInPlaceFrame. ResizeBorder and
    // EnableModeless serve the document host's UI handler too.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT border) override;
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS widths) override;
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS widths) override;
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object,
                                              LPCOLESTR name) override;
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths) override;
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU shared, HOLEMENU descriptor,
                                      HWND activeObject) override;
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU shared) override;
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR text) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(WINBOOL enable) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message, WORD id) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                                           WINBOOL frameWindow) override;

    // IDocHostUIHandler
    HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD kind, POINT* point, IUnknown* target,
                                              IDispatch* hit) override;
    HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* info) override;
    HRESULT STDMETHODCALLTYPE ShowUI(DWORD kind, IOleInPlaceActiveObject* object,
                                     IOleCommandTarget* target, IOleInPlaceFrame* frame,
                                     IOleInPlaceUIWindow* document) override;
    HRESULT STDMETHODCALLTYPE HideUI() override;
    HRESULT STDMETHODCALLTYPE UpdateUI() override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(WINBOOL activate) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(WINBOOL activate) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message, const GUID* group,
                                                   DWORD command) override;
    HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* key, DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget* target,
                                            IDropTarget** replacement) override;
    HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** external) override;
    HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD reserved, LPWSTR url, LPWSTR* translated) override;
    HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject* data, IDataObject** filtered) override;

    // IDocHostShowUI
    HRESULT STDMETHODCALLTYPE ShowMessage(HWND window, LPOLESTR text, LPOLESTR caption, DWORD type,
                                          LPOLESTR helpFile, DWORD helpContext,
                                          LRESULT* result) override;
    HRESULT STDMETHODCALLTYPE ShowHelp(HWND window, LPOLESTR helpFile, UINT command, DWORD data,
                                       POINT point, IDispatch* hit) override;

    // IOleCommandTarget
    HRESULT STDMETHODCALLTYPE QueryStatus(const GUID* group, ULONG count, OLECMD* commands,
                                          OLECMDTEXT* text) override;
    HRESULT STDMETHODCALLTYPE Exec(const GUID* group, DWORD command, DWORD options, VARIANT* input,
                                   VARIANT* output) override;

private:
    BrowserSite(HWND window, SiteOptions options);
    ~BrowserSite();

    RECT ClientArea() const;

    std::atomic<ULONG> references_{1};
    HWND window_;
    SiteOptions options_;
    com::Ptr<IOleInPlaceActiveObject> activeObject_;
};

// What the control's events tell the window that hosts it.
struct BrowserEventHandlers {
    // The top-level document has loaded (frames do not count).
    std::function<void()> onDocumentComplete;
    // The top-level navigation failed; the control shows its error page.
    std::function<void()> onNavigateError;
    std::function<void(const std::string&)> onTitle;
    // A top-level navigation, or a window the page opens (window.open, a link
    // with a target), to this address: true when it went elsewhere and the
    // control must not go there. A window the page opens never comes,
    // whatever this says. Without it, navigations go where they lead.
    std::function<bool(const std::string& url)> onLeave;
};

// The sink of DWebBrowserEvents2.
class BrowserEvents final : public IDispatch {
public:
    static com::Ptr<BrowserEvents> Create(BrowserEventHandlers handlers);
    BrowserEvents(const BrowserEvents&) = delete;
    BrowserEvents& operator=(const BrowserEvents&) = delete;

    // The control whose own events are the top-level ones (compared, not held).
    void SetTopLevel(IUnknown* browser) { topLevel_ = browser; }
    // No handler runs after this.
    void Detach();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

private:
    explicit BrowserEvents(BrowserEventHandlers handlers) : handlers_(std::move(handlers)) {}
    ~BrowserEvents() = default;

    bool IsTopLevel(const VARIANT& source) const;
    void BeforeNavigate(const VARIANT* arguments, UINT count);
    void NewWindow(const VARIANT* arguments, UINT count);

    std::atomic<ULONG> references_{1};
    BrowserEventHandlers handlers_;
    IUnknown* topLevel_ = nullptr;
};

// A window.external whose one method (matched without regard to case)
// hands its first argument, as text, to a callback.
class ScriptMessageTarget final : public IDispatch {
public:
    static constexpr DISPID kMethodId = 1;

    static com::Ptr<ScriptMessageTarget> Create(std::string method,
                                                std::function<void(const std::string&)> onMessage);
    ScriptMessageTarget(const ScriptMessageTarget&) = delete;
    ScriptMessageTarget& operator=(const ScriptMessageTarget&) = delete;

    // No message is handed on after this.
    void Detach() { onMessage_ = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

private:
    ScriptMessageTarget(std::string method, std::function<void(const std::string&)> onMessage)
        : method_(std::move(method)), onMessage_(std::move(onMessage)) {}
    ~ScriptMessageTarget() = default;

    std::atomic<ULONG> references_{1};
    const std::string method_;
    std::function<void(const std::string&)> onMessage_;
};

// The WebBrowser control, in place in a window's client area, with the
// site and event sink above.
class EmbeddedBrowser {
public:
    // Null, with the failing HRESULT in `error`, when the control cannot be
    // made or activated.
    static std::unique_ptr<EmbeddedBrowser> Create(HWND window, SiteOptions site,
                                                   BrowserEventHandlers events, HRESULT& error);
    ~EmbeddedBrowser();
    EmbeddedBrowser(const EmbeddedBrowser&) = delete;
    EmbeddedBrowser& operator=(const EmbeddedBrowser&) = delete;

    HRESULT Navigate(const std::string& url);
    // Follows the window's client area.
    void Resize(const RECT& client);
    // Offers a keyboard message to the page first; true when it took it.
    bool TranslateAccelerator(MSG& message);
    IWebBrowser2* Browser() const { return browser_.Get(); }

private:
    EmbeddedBrowser() = default;
    HRESULT Attach(HWND window);

    com::Ptr<BrowserSite> site_;
    com::Ptr<BrowserEvents> events_;
    com::Ptr<IOleObject> object_;
    com::Ptr<IWebBrowser2> browser_;
    com::Ptr<IConnectionPoint> eventPoint_;
    DWORD eventCookie_ = 0;
};

}  // namespace stubframework::platform::win32
