#include "platform/win32/BrowserSite.h"

#include <exdispid.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "platform/unicode.h"

namespace stubframework::platform::win32 {
namespace {

// CGID_DocHostCommandHandler, which the import libraries lack.
constexpr GUID kDocHostCommandHandler = {
    0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};

// The menu kinds that keep the browser's own menu: text boxes, selections
// and scroll bars. Everywhere else the page shows none.
constexpr DWORD kBrowserMenuKinds[] = {CONTEXT_MENU_CONTROL, CONTEXT_MENU_TEXTSELECT,
                                       CONTEXT_MENU_VSCROLL, CONTEXT_MENU_HSCROLL};

template <class Range, class Value>
bool Contains(const Range& range, const Value& value) {
    return std::find(std::begin(range), std::end(range), value) != std::end(range);
}

// The identity of a COM object: its IUnknown.
IUnknown* Identity(IUnknown* object) {
    if (object == nullptr) {
        return nullptr;
    }
    IUnknown* identity = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)))) {
        return nullptr;
    }
    identity->Release();  // compared only, while the object lives
    return identity;
}

}  // namespace

std::string FileUrlOf(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const bool share = path.rfind("\\\\", 0) == 0 || path.rfind("//", 0) == 0;
    std::string url = share ? "file:" : "file:///";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            url += '/';
        } else if (c == '%' || c == '#' || c == '?' || c == ' ' || byte < 0x20 || byte == 0x7F) {
            url += '%';
            url += kHex[byte >> 4];
            url += kHex[byte & 0xF];
        } else {
            url += c;
        }
    }
    return url;
}

std::string TextOfValue(const VARIANT& value) {
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
        return {};
    }
    com::Variant text;
    // The source is only read; the declaration lacks its const.
    if (FAILED(VariantChangeType(text.Get(), const_cast<VARIANT*>(&value), VARIANT_ALPHABOOL,
                                 VT_BSTR))) {
        return {};
    }
    return com::ToUtf8(text.Get()->bstrVal);
}

// --- BrowserSite -----------------------------------------------------------

BrowserSite::BrowserSite(HWND window, SiteOptions options)
    : window_(window), options_(std::move(options)) {
    // Held for the page as long as the site has it; Detach lets it go.
    options_.external = com::Ptr<IDispatch>::Share(options_.external).Detach();
}

BrowserSite::~BrowserSite() {
    Detach();
}

com::Ptr<BrowserSite> BrowserSite::Create(HWND window, SiteOptions options) {
    return com::Ptr<BrowserSite>::Attach(new BrowserSite(window, std::move(options)));
}

void BrowserSite::Detach() {
    window_ = nullptr;
    options_.onTitle = nullptr;
    com::Ptr<IDispatch>::Attach(std::exchange(options_.external, nullptr)).Reset();
    activeObject_.Reset();
}

RECT BrowserSite::ClientArea() const {
    RECT area{0, 0, 0, 0};
    if (window_ != nullptr) {
        GetClientRect(window_, &area);
    }
    return area;
}

HRESULT BrowserSite::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
    } else if (riid == __uuidof(IOleClientSite)) {
        *object = static_cast<IOleClientSite*>(this);
    } else if (riid == __uuidof(IOleWindow) || riid == __uuidof(IOleInPlaceSite)) {
        *object = static_cast<IOleInPlaceSite*>(this);
    } else if (riid == __uuidof(IOleInPlaceUIWindow) || riid == __uuidof(IOleInPlaceFrame)) {
        *object = static_cast<IOleInPlaceFrame*>(this);
    } else if (riid == __uuidof(IDocHostUIHandler)) {
        *object = static_cast<IDocHostUIHandler*>(this);
    } else if (riid == __uuidof(IDocHostShowUI)) {
        *object = static_cast<IDocHostShowUI*>(this);
    } else if (riid == __uuidof(IOleCommandTarget)) {
        *object = static_cast<IOleCommandTarget*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG BrowserSite::AddRef() {
    return ++references_;
}

ULONG BrowserSite::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT BrowserSite::GetTypeInfoCount(UINT* /*count*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::GetTypeInfo(UINT /*index*/, LCID /*locale*/, ITypeInfo** info) {
    if (info != nullptr) {
        *info = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT BrowserSite::GetIDsOfNames(REFIID /*riid*/, LPOLESTR* /*names*/, UINT /*count*/,
                                   LCID /*locale*/, DISPID* /*ids*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::Invoke(DISPID id, REFIID /*riid*/, LCID /*locale*/, WORD /*flags*/,
                            DISPPARAMS* /*params*/, VARIANT* result, EXCEPINFO* /*exception*/,
                            UINT* /*argumentError*/) {
    if (id != DISPID_AMBIENT_DLCONTROL || options_.downloadControl == 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (result == nullptr) {
        return E_POINTER;
    }
    VariantInit(result);
    result->vt = VT_I4;
    result->lVal = options_.downloadControl;
    return S_OK;
}

HRESULT BrowserSite::SaveObject() {
    return E_NOTIMPL;
}

HRESULT BrowserSite::GetMoniker(DWORD /*assign*/, DWORD /*which*/, IMoniker** moniker) {
    if (moniker != nullptr) {
        *moniker = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT BrowserSite::GetContainer(IOleContainer** container) {
    if (container != nullptr) {
        *container = nullptr;
    }
    return E_NOINTERFACE;
}

HRESULT BrowserSite::ShowObject() {
    return S_OK;
}

HRESULT BrowserSite::OnShowWindow(WINBOOL /*show*/) {
    return S_OK;
}

HRESULT BrowserSite::RequestNewObjectLayout() {
    return E_NOTIMPL;
}

HRESULT BrowserSite::GetWindow(HWND* window) {
    if (window == nullptr) {
        return E_POINTER;
    }
    *window = window_;
    return window_ != nullptr ? S_OK : E_FAIL;
}

HRESULT BrowserSite::ContextSensitiveHelp(WINBOOL /*enter*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::CanInPlaceActivate() {
    return S_OK;
}

HRESULT BrowserSite::OnInPlaceActivate() {
    return S_OK;
}

HRESULT BrowserSite::OnUIActivate() {
    return S_OK;
}

HRESULT BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                      LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
    if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr ||
        info == nullptr) {
        return E_POINTER;
    }
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    *position = ClientArea();
    *clip = *position;
    info->fMDIApp = FALSE;
    info->hwndFrame = window_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

HRESULT BrowserSite::Scroll(SIZE /*extent*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::OnUIDeactivate(WINBOOL /*undoable*/) {
    return S_OK;
}

HRESULT BrowserSite::OnInPlaceDeactivate() {
    activeObject_.Reset();
    return S_OK;
}

HRESULT BrowserSite::DiscardUndoState() {
    return E_NOTIMPL;
}

HRESULT BrowserSite::DeactivateAndUndo() {
    return E_NOTIMPL;
}

HRESULT BrowserSite::OnPosRectChange(LPCRECT /*position*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::GetBorder(LPRECT /*border*/) {
    return INPLACE_E_NOTOOLSPACE;
}

HRESULT BrowserSite::RequestBorderSpace(LPCBORDERWIDTHS /*widths*/) {
    return INPLACE_E_NOTOOLSPACE;
}

HRESULT BrowserSite::SetBorderSpace(LPCBORDERWIDTHS /*widths*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR /*name*/) {
    activeObject_ = com::Ptr<IOleInPlaceActiveObject>::Share(object);
    return S_OK;
}

HRESULT BrowserSite::InsertMenus(HMENU /*shared*/, LPOLEMENUGROUPWIDTHS /*widths*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::SetMenu(HMENU /*shared*/, HOLEMENU /*descriptor*/, HWND /*activeObject*/) {
    return S_OK;
}

HRESULT BrowserSite::RemoveMenus(HMENU /*shared*/) {
    return E_NOTIMPL;
}

// Status texts are not shown anywhere.
HRESULT BrowserSite::SetStatusText(LPCOLESTR /*text*/) {
    return S_OK;
}

HRESULT BrowserSite::EnableModeless(WINBOOL /*enable*/) {
    return S_OK;
}

HRESULT BrowserSite::TranslateAccelerator(LPMSG /*message*/, WORD /*id*/) {
    return S_FALSE;
}

HRESULT BrowserSite::ResizeBorder(LPCRECT /*border*/, IOleInPlaceUIWindow* /*window*/,
                                  WINBOOL /*frameWindow*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::ShowContextMenu(DWORD kind, POINT* /*point*/, IUnknown* /*target*/,
                                     IDispatch* /*hit*/) {
    // S_FALSE lets the browser show its own menu; S_OK means shown (none).
    return Contains(kBrowserMenuKinds, kind) ? S_FALSE : S_OK;
}

HRESULT BrowserSite::GetHostInfo(DOCHOSTUIINFO* info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    info->dwFlags = options_.hostFlags;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    info->pchHostCss = nullptr;
    info->pchHostNS = nullptr;
    return S_OK;
}

HRESULT BrowserSite::ShowUI(DWORD /*kind*/, IOleInPlaceActiveObject* /*object*/,
                            IOleCommandTarget* /*target*/, IOleInPlaceFrame* /*frame*/,
                            IOleInPlaceUIWindow* /*document*/) {
    return S_FALSE;
}

HRESULT BrowserSite::HideUI() {
    return S_OK;
}

HRESULT BrowserSite::UpdateUI() {
    return S_OK;
}

HRESULT BrowserSite::OnDocWindowActivate(WINBOOL /*activate*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::OnFrameWindowActivate(WINBOOL /*activate*/) {
    return E_NOTIMPL;
}

// The browser handles its keys itself.
HRESULT BrowserSite::TranslateAccelerator(LPMSG /*message*/, const GUID* /*group*/,
                                          DWORD /*command*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::GetOptionKeyPath(LPOLESTR* key, DWORD /*reserved*/) {
    if (key != nullptr) {
        *key = nullptr;
    }
    return S_FALSE;
}

HRESULT BrowserSite::GetDropTarget(IDropTarget* /*target*/, IDropTarget** replacement) {
    if (replacement != nullptr) {
        *replacement = nullptr;
    }
    return E_FAIL;
}

HRESULT BrowserSite::GetExternal(IDispatch** external) {
    if (external == nullptr) {
        return E_POINTER;
    }
    *external = options_.external;
    if (*external == nullptr) {
        return S_FALSE;
    }
    (*external)->AddRef();
    return S_OK;
}

HRESULT BrowserSite::TranslateUrl(DWORD /*reserved*/, LPWSTR /*url*/, LPWSTR* translated) {
    if (translated != nullptr) {
        *translated = nullptr;
    }
    return S_FALSE;
}

HRESULT BrowserSite::FilterDataObject(IDataObject* /*data*/, IDataObject** filtered) {
    if (filtered != nullptr) {
        *filtered = nullptr;
    }
    return S_FALSE;
}

HRESULT BrowserSite::ShowMessage(HWND /*window*/, LPOLESTR /*text*/, LPOLESTR /*caption*/,
                                 DWORD /*type*/, LPOLESTR /*helpFile*/, DWORD /*helpContext*/,
                                 LRESULT* result) {
    if (!options_.swallowScriptDialogs) {
        return S_FALSE;  // the browser shows its own box
    }
    // Nobody saw it: a confirm is not confirmed.
    if (result != nullptr) {
        *result = IDCANCEL;
    }
    return S_OK;
}

HRESULT BrowserSite::ShowHelp(HWND /*window*/, LPOLESTR /*helpFile*/, UINT /*command*/,
                              DWORD /*data*/, POINT /*point*/, IDispatch* /*hit*/) {
    return S_OK;  // no help window
}

HRESULT BrowserSite::QueryStatus(const GUID* /*group*/, ULONG /*count*/, OLECMD* /*commands*/,
                                 OLECMDTEXT* /*text*/) {
    return E_NOTIMPL;
}

HRESULT BrowserSite::Exec(const GUID* group, DWORD command, DWORD /*options*/, VARIANT* input,
                          VARIANT* output) {
    if (group == nullptr) {
        if (command != OLECMDID_SETTITLE) {
            return E_NOTIMPL;
        }
        if (input != nullptr && input->vt == VT_BSTR && options_.onTitle) {
            const auto onTitle = options_.onTitle;
            onTitle(com::ToUtf8(input->bstrVal));
        }
        return S_OK;
    }
    if (*group != kDocHostCommandHandler) {
        return OLECMDERR_E_UNKNOWNGROUP;
    }
    if (Contains(kIgnoredHostCommands, command)) {
        return S_OK;
    }
    if (command == OLECMDID_SHOWSCRIPTERROR && options_.swallowScriptErrors) {
        // No report, and the page's scripts keep running.
        if (output != nullptr) {
            VariantClear(output);
            output->vt = VT_BOOL;
            output->boolVal = VARIANT_TRUE;
        }
        return S_OK;
    }
    return OLECMDERR_E_NOTSUPPORTED;
}

// --- BrowserEvents ---------------------------------------------------------

com::Ptr<BrowserEvents> BrowserEvents::Create(BrowserEventHandlers handlers) {
    return com::Ptr<BrowserEvents>::Attach(new BrowserEvents(std::move(handlers)));
}

void BrowserEvents::Detach() {
    handlers_ = {};
    topLevel_ = nullptr;
}

bool BrowserEvents::IsTopLevel(const VARIANT& source) const {
    if (topLevel_ == nullptr) {
        return false;
    }
    IUnknown* object = nullptr;
    if (source.vt == VT_DISPATCH || source.vt == VT_UNKNOWN) {
        object = source.punkVal;
    } else if (source.vt == (VT_DISPATCH | VT_BYREF) && source.ppdispVal != nullptr) {
        object = *source.ppdispVal;
    }
    return object != nullptr && Identity(object) == topLevel_;
}

HRESULT BrowserEvents::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == __uuidof(DWebBrowserEvents2)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG BrowserEvents::AddRef() {
    return ++references_;
}

ULONG BrowserEvents::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT BrowserEvents::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT BrowserEvents::GetTypeInfo(UINT /*index*/, LCID /*locale*/, ITypeInfo** info) {
    if (info != nullptr) {
        *info = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT BrowserEvents::GetIDsOfNames(REFIID /*riid*/, LPOLESTR* /*names*/, UINT /*count*/,
                                     LCID /*locale*/, DISPID* /*ids*/) {
    return E_NOTIMPL;
}

HRESULT BrowserEvents::Invoke(DISPID id, REFIID /*riid*/, LCID /*locale*/, WORD /*flags*/,
                              DISPPARAMS* params, VARIANT* /*result*/, EXCEPINFO* /*exception*/,
                              UINT* /*argumentError*/) {
    if (params == nullptr) {
        return S_OK;
    }
    // A handler may close the window and Detach this sink: it runs on copies.
    const com::Ptr<BrowserEvents> self = com::Ptr<BrowserEvents>::Share(this);
    const VARIANT* arguments = params->rgvarg;  // in reverse order
    const UINT count = params->cArgs;
    switch (id) {
        case DISPID_DOCUMENTCOMPLETE:  // (pDisp, URL)
            if (count >= 2 && IsTopLevel(arguments[count - 1]) && handlers_.onDocumentComplete) {
                const auto handler = handlers_.onDocumentComplete;
                handler();
            }
            break;
        case DISPID_NAVIGATEERROR:  // (pDisp, URL, Frame, StatusCode, Cancel)
            if (count >= 5 && IsTopLevel(arguments[count - 1]) && handlers_.onNavigateError) {
                const auto handler = handlers_.onNavigateError;
                handler();
            }
            break;
        case DISPID_BEFORENAVIGATE2:
            BeforeNavigate(arguments, count);
            break;
        case DISPID_NEWWINDOW3:
            NewWindow(arguments, count);
            break;
        case DISPID_TITLECHANGE:  // (Text)
            if (count >= 1 && arguments[0].vt == VT_BSTR && handlers_.onTitle) {
                const auto handler = handlers_.onTitle;
                handler(com::ToUtf8(arguments[0].bstrVal));
            }
            break;
        default:
            break;
    }
    return S_OK;
}

namespace {

// The text of an argument given as a BSTR or a reference to one.
std::string TextArgument(const VARIANT& value) {
    if (value.vt == VT_BSTR) {
        return com::ToUtf8(value.bstrVal);
    }
    if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal != nullptr) {
        return TextArgument(*value.pvarVal);
    }
    if (value.vt == (VT_BYREF | VT_BSTR) && value.pbstrVal != nullptr) {
        return com::ToUtf8(*value.pbstrVal);
    }
    return {};
}

void SetCancel(const VARIANT& cancel) {
    if (cancel.vt == (VT_BYREF | VT_BOOL) && cancel.pboolVal != nullptr) {
        *cancel.pboolVal = VARIANT_TRUE;
    }
}

}  // namespace

// (pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel)
void BrowserEvents::BeforeNavigate(const VARIANT* arguments, UINT count) {
    if (count < 7 || !IsTopLevel(arguments[6]) || !handlers_.onLeave) {
        return;
    }
    const auto handler = handlers_.onLeave;
    if (handler(TextArgument(arguments[5]))) {
        SetCancel(arguments[0]);
    }
}

// (ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl): no window of ours.
void BrowserEvents::NewWindow(const VARIANT* arguments, UINT count) {
    if (count < 5 || !handlers_.onLeave) {
        return;
    }
    SetCancel(arguments[3]);
    const auto handler = handlers_.onLeave;
    handler(TextArgument(arguments[0]));
}

// --- ScriptMessageTarget ---------------------------------------------------

com::Ptr<ScriptMessageTarget> ScriptMessageTarget::Create(
    std::string method, std::function<void(const std::string&)> onMessage) {
    return com::Ptr<ScriptMessageTarget>::Attach(
        new ScriptMessageTarget(std::move(method), std::move(onMessage)));
}

HRESULT ScriptMessageTarget::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG ScriptMessageTarget::AddRef() {
    return ++references_;
}

ULONG ScriptMessageTarget::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT ScriptMessageTarget::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) {
        return E_POINTER;
    }
    *count = 0;
    return S_OK;
}

HRESULT ScriptMessageTarget::GetTypeInfo(UINT /*index*/, LCID /*locale*/, ITypeInfo** info) {
    if (info != nullptr) {
        *info = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT ScriptMessageTarget::GetIDsOfNames(REFIID /*riid*/, LPOLESTR* names, UINT count,
                                           LCID /*locale*/, DISPID* ids) {
    if (names == nullptr || ids == nullptr) {
        return E_POINTER;
    }
    std::fill(ids, ids + count, DISPID_UNKNOWN);
    if (count != 1 || names[0] == nullptr) {
        return DISP_E_UNKNOWNNAME;  // no named arguments either
    }
    const std::u16string wanted = Utf8ToUtf16(method_);
    const bool same =
        CompareStringOrdinal(names[0], -1, reinterpret_cast<const wchar_t*>(wanted.c_str()),
                             static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL;
    if (!same) {
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = kMethodId;
    return S_OK;
}

HRESULT ScriptMessageTarget::Invoke(DISPID id, REFIID /*riid*/, LCID /*locale*/, WORD flags,
                                    DISPPARAMS* params, VARIANT* result, EXCEPINFO* /*exception*/,
                                    UINT* /*argumentError*/) {
    if (id != kMethodId || (flags & DISPATCH_METHOD) == 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (result != nullptr) {
        VariantInit(result);
    }
    // The first argument comes last; a call without one sends empty text.
    const bool hasArgument = params != nullptr && params->cArgs > 0 && params->rgvarg != nullptr;
    const std::string text = hasArgument ? TextOfValue(params->rgvarg[params->cArgs - 1]) : "";
    if (onMessage_) {
        const auto onMessage = onMessage_;
        onMessage(text);
    }
    return S_OK;
}

// --- EmbeddedBrowser -------------------------------------------------------

std::unique_ptr<EmbeddedBrowser> EmbeddedBrowser::Create(HWND window, SiteOptions site,
                                                         BrowserEventHandlers events,
                                                         HRESULT& error) {
    std::unique_ptr<EmbeddedBrowser> browser(new EmbeddedBrowser());
    browser->site_ = BrowserSite::Create(window, std::move(site));
    browser->events_ = BrowserEvents::Create(std::move(events));
    error = browser->Attach(window);
    if (FAILED(error)) {
        return nullptr;  // takes down whatever was made
    }
    return browser;
}

HRESULT EmbeddedBrowser::Attach(HWND window) {
    IOleObject* object = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(IOleObject), reinterpret_cast<void**>(&object));
    if (FAILED(hr)) {
        return hr;
    }
    object_ = com::Ptr<IOleObject>::Attach(object);
    IOleClientSite* clientSite = static_cast<IOleClientSite*>(site_.Get());
    hr = object_->SetClientSite(clientSite);
    if (FAILED(hr)) {
        return hr;
    }
    RECT area{0, 0, 0, 0};
    GetClientRect(window, &area);
    hr = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, clientSite, 0, window, &area);
    if (FAILED(hr)) {
        return hr;
    }
    IWebBrowser2* browser = nullptr;
    hr = object_->QueryInterface(__uuidof(IWebBrowser2), reinterpret_cast<void**>(&browser));
    if (FAILED(hr)) {
        return hr;
    }
    browser_ = com::Ptr<IWebBrowser2>::Attach(browser);
    events_->SetTopLevel(Identity(browser));
    IConnectionPointContainer* points = nullptr;
    hr = object_->QueryInterface(__uuidof(IConnectionPointContainer),
                                 reinterpret_cast<void**>(&points));
    if (FAILED(hr)) {
        return hr;
    }
    const auto container = com::Ptr<IConnectionPointContainer>::Attach(points);
    IConnectionPoint* point = nullptr;
    hr = container->FindConnectionPoint(__uuidof(DWebBrowserEvents2), &point);
    if (FAILED(hr)) {
        return hr;
    }
    eventPoint_ = com::Ptr<IConnectionPoint>::Attach(point);
    hr = eventPoint_->Advise(static_cast<IDispatch*>(events_.Get()), &eventCookie_);
    if (FAILED(hr)) {
        eventPoint_.Reset();
    }
    return hr;
}

EmbeddedBrowser::~EmbeddedBrowser() {
    if (eventPoint_) {
        eventPoint_->Unadvise(eventCookie_);
        eventPoint_.Reset();
    }
    if (events_) {
        events_->Detach();
    }
    if (browser_) {
        browser_->Stop();
    }
    if (object_) {
        IOleInPlaceObject* inPlace = nullptr;
        if (SUCCEEDED(object_->QueryInterface(__uuidof(IOleInPlaceObject),
                                              reinterpret_cast<void**>(&inPlace)))) {
            inPlace->InPlaceDeactivate();
            inPlace->Release();
        }
        object_->Close(OLECLOSE_NOSAVE);
        object_->SetClientSite(nullptr);
    }
    browser_.Reset();
    object_.Reset();
    // The control may hold the site a while longer; it points nowhere now.
    if (site_) {
        site_->Detach();
    }
}

HRESULT EmbeddedBrowser::Navigate(const std::string& url) {
    const com::Bstr address(url);
    com::Variant none;
    return browser_->Navigate(address.Get(), none.Get(), none.Get(), none.Get(), none.Get());
}

void EmbeddedBrowser::Resize(const RECT& client) {
    IOleInPlaceObject* inPlace = nullptr;
    if (SUCCEEDED(object_->QueryInterface(__uuidof(IOleInPlaceObject),
                                          reinterpret_cast<void**>(&inPlace)))) {
        inPlace->SetObjectRects(&client, &client);
        inPlace->Release();
    }
}

bool EmbeddedBrowser::TranslateAccelerator(MSG& message) {
    if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) {
        return false;
    }
    com::Ptr<IOleInPlaceActiveObject> active =
        com::Ptr<IOleInPlaceActiveObject>::Share(site_->ActiveObject());
    if (!active) {
        IOleInPlaceActiveObject* queried = nullptr;
        if (FAILED(browser_->QueryInterface(__uuidof(IOleInPlaceActiveObject),
                                            reinterpret_cast<void**>(&queried)))) {
            return false;
        }
        active = com::Ptr<IOleInPlaceActiveObject>::Attach(queried);
    }
    return active->TranslateAccelerator(&message) == S_OK;
}

}  // namespace stubframework::platform::win32
