// The wizard window: a borderless popup of our own class around the
// WebBrowser control, run by a message loop on the window thread until its
// close flag is set. Window operations take any live window handle; a null
// or dead one does nothing (placement then falls back to the screen).
#include "platform/window.h"

#include "platform/win32/Win32.h"
// After windows.h, which they need.
#include <ole2.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "platform/process.h"
#include "platform/unicode.h"
#include "platform/win32/BrowserSite.h"
#include "platform/win32/WindowThread.h"
#include "platform/windowthread.h"

namespace stubframework::platform::window {
namespace {

using win32::EmbeddedBrowser;

constexpr wchar_t kClassName[] = L"HTMLUI";
constexpr int kDefaultDpi = 96;

// What a host window knows about itself; lives in RunHostWindow's frame
// and is reached through the window's extra bytes.
struct WindowData {
    std::string url;
    IDispatchEx* external = nullptr;
    HostEvents* events = nullptr;
    std::unique_ptr<EmbeddedBrowser> browser;
    HWND savedFocus = nullptr;  // the child that had the focus when we lost it
    std::atomic<bool> closeRequested{false};
    bool announced = false;  // OnWindowCreated told, OnWindowDestroyed not yet
    HRESULT failure = S_OK;  // why WM_CREATE failed
};

// Set once the program was asked to end: no window stays open after that.
std::atomic<bool> endRequested{false};
std::atomic<ATOM> classAtom{0};

struct LiveWindows {
    std::mutex mutex;
    std::set<HWND> windows;
};

LiveWindows& Live() {
    static LiveWindows live;
    return live;
}

std::wstring Wide(const std::string& text) {
    const std::u16string wide = Utf8ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
}

std::string Narrow(const wchar_t* text) {
    return text == nullptr ? std::string() : Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
}

std::string HexCode(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(code));
    return text;
}

WindowData* Data(HWND window) {
    return reinterpret_cast<WindowData*>(GetWindowLongPtrW(window, 0));
}

// A live window, or null.
HWND AsWindow(Handle handle) {
    auto* window = static_cast<HWND>(handle);
    return window != nullptr && IsWindow(window) ? window : nullptr;
}

// The page file in its folder, with the separators Windows takes.
std::string PagePath(const std::string& folder, const std::string& page) {
    std::string path = folder;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') {
        path += '\\';
    }
    return path + page;
}

// The installer's window shows our pages only: an address on the web (or a
// mail address) goes to the desktop's browser, and the page that was there
// stays. Anything else loads where it leads.
bool HandOff(const std::string& url) {
    std::string scheme = url.substr(0, url.find(':'));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (scheme != "http" && scheme != "https" && scheme != "mailto") {
        return false;
    }
    process::OpenWithDesktop(url);
    return true;
}

void SetTitle(HWND window, const std::string& title) {
    if (IsWindow(window)) {
        SetWindowTextW(window, Wide(title).c_str());
    }
}

LRESULT OnCreate(HWND window, const CREATESTRUCTW& create) {
    auto* data = static_cast<WindowData*>(create.lpCreateParams);
    if (data == nullptr || data->url.empty()) {
        return -1;
    }
    SetWindowLongPtrW(window, 0, reinterpret_cast<LONG_PTR>(data));
    data->announced = true;
    data->events->OnWindowCreated(window);
    win32::SiteOptions site;
    site.external = data->external;
    site.onTitle = [window](const std::string& title) { SetTitle(window, title); };
    win32::BrowserEventHandlers handlers;
    handlers.onDocumentComplete = [data] { data->events->OnDocumentComplete(); };
    handlers.onTitle = site.onTitle;
    handlers.onLeave = &HandOff;
    data->browser =
        EmbeddedBrowser::Create(window, std::move(site), std::move(handlers), data->failure);
    if (!data->browser) {
        return -1;
    }
    data->failure = data->browser->Navigate(data->url);
    return SUCCEEDED(data->failure) ? 0 : -1;
}

void OnDestroy(HWND window) {
    WindowData* data = Data(window);
    if (data == nullptr) {
        return;
    }
    data->browser.reset();
    SetWindowLongPtrW(window, 0, 0);
    if (data->announced) {
        data->announced = false;
        data->events->OnWindowDestroyed();
    }
}

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window, *reinterpret_cast<const CREATESTRUCTW*>(lParam));
        case WM_DESTROY:
            OnDestroy(window);
            return 0;
        case WM_SIZE:
            if (WindowData* data = Data(window); data != nullptr && data->browser) {
                RECT client{0, 0, 0, 0};
                GetClientRect(window, &client);
                data->browser->Resize(client);
            }
            return 0;
        case WM_ACTIVATE:
            // The page's focused element gets the focus back on return.
            if (WindowData* data = Data(window); data != nullptr && LOWORD(wParam) == WA_INACTIVE) {
                HWND focus = GetFocus();
                data->savedFocus = focus != nullptr && IsChild(window, focus) ? focus : nullptr;
            }
            break;
        case WM_SETFOCUS:
            if (WindowData* data = Data(window);
                data != nullptr && data->savedFocus != nullptr && IsWindow(data->savedFocus)) {
                SetFocus(data->savedFocus);
                return 0;
            }
            break;
        case WM_CLOSE:
            // The loop's end destroys the window, not the close box.
            if (WindowData* data = Data(window)) {
                data->closeRequested = true;
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Registered once for the whole run; 0 when it cannot be.
ATOM RegisterHostClass() {
    static const ATOM atom = [] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = HostProc;
        windowClass.cbWndExtra = sizeof(LONG_PTR);  // the WindowData
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kClassName;
        const ATOM registered = RegisterClassExW(&windowClass);
        classAtom = registered;
        return registered;
    }();
    return atom;
}

// The data of a live host window of this process, or null.
WindowData* HostData(Handle handle) {
    HWND window = AsWindow(handle);
    if (window == nullptr || classAtom == 0 || GetClassWord(window, GCW_ATOM) != classAtom) {
        return nullptr;
    }
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId() ? Data(window) : nullptr;
}

bool IsOurs(HWND window, const MSG& message) {
    return message.hwnd == window || IsChild(window, message.hwnd);
}

// The window thread's loop while the window shows; posted work comes as
// messages to its wake window. Ends when the close flag is set.
void RunUntilClosed(HWND window, WindowData& data) {
    while (!data.closeRequested) {
        MSG message;
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            // The program is ending: the loop further out sees it too.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (got < 0) {
            return;
        }
        // Keys go to the page first (tab order, editing keys).
        if (data.browser && IsOurs(window, message) &&
            data.browser->TranslateAccelerator(message)) {
            continue;
        }
        win32::DispatchThreadMessage(message);
    }
}

class Registration {
public:
    explicit Registration(HWND window) : window_(window) {
        const std::lock_guard<std::mutex> lock(Live().mutex);
        Live().windows.insert(window_);
    }
    ~Registration() {
        const std::lock_guard<std::mutex> lock(Live().mutex);
        Live().windows.erase(window_);
    }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    HWND window_;
};

// The control needs OLE on the window thread, balanced on the way out.
class OleScope {
public:
    OleScope() : result_(OleInitialize(nullptr)) {}
    ~OleScope() {
        if (SUCCEEDED(result_)) {
            OleUninitialize();
        }
    }
    OleScope(const OleScope&) = delete;
    OleScope& operator=(const OleScope&) = delete;
    HRESULT Result() const { return result_; }

private:
    const HRESULT result_;
};

void CloseLiveWindows() {
    std::set<HWND> windows;
    {
        const std::lock_guard<std::mutex> lock(Live().mutex);
        windows = Live().windows;
    }
    for (HWND window : windows) {
        RequestClose(window);
    }
}

template <class Function>
Function UserFunction(const char* name) {
    const FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
    // Through void(*)(): a function pointer of any type may be cast from it.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// Windows 10 1607 and later; null before.
using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
using AdjustForDpiFunction = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);

GetDpiForWindowFunction GetDpiForWindowOrNull() {
    static const auto function = UserFunction<GetDpiForWindowFunction>("GetDpiForWindow");
    return function;
}

AdjustForDpiFunction AdjustWindowRectExForDpiOrNull() {
    static const auto function = UserFunction<AdjustForDpiFunction>("AdjustWindowRectExForDpi");
    return function;
}

Rect FromRect(const RECT& rect) {
    return {rect.left, rect.top, rect.right, rect.bottom};
}

Rect WorkAreaOf(HMONITOR monitor) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (monitor == nullptr || !GetMonitorInfoW(monitor, &info)) {
        return {};
    }
    return FromRect(info.rcWork);
}

MessageAnswer AnswerOf(int result, MessageButtons buttons) {
    if (result == IDOK) {
        return MessageAnswer::Ok;
    }
    if (result == IDRETRY) {
        return MessageAnswer::Retry;
    }
    // Closed, cancelled, or never shown: Cancel where there is one.
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
}

// The modern picker; false when it cannot be made (the caller falls back)
// and `shown` false with it.
bool PickWithFileDialog(HWND owner, const std::string& initialFolder, std::string& chosen,
                        bool& shown) {
    shown = false;
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IFileOpenDialog), reinterpret_cast<void**>(&dialog)))) {
        return false;
    }
    const auto picker = com::Ptr<IFileOpenDialog>::Attach(dialog);
    shown = true;
    FILEOPENDIALOGOPTIONS options = 0;
    picker->GetOptions(&options);
    picker->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    IShellItem* start = nullptr;
    if (!initialFolder.empty() && SUCCEEDED(SHCreateItemFromParsingName(
                                      Wide(initialFolder).c_str(), nullptr, __uuidof(IShellItem),
                                      reinterpret_cast<void**>(&start)))) {
        picker->SetFolder(start);
        start->Release();
    }
    if (FAILED(picker->Show(owner))) {
        return false;  // cancelled
    }
    IShellItem* result = nullptr;
    if (FAILED(picker->GetResult(&result))) {
        return false;
    }
    const auto item = com::Ptr<IShellItem>::Attach(result);
    wchar_t* name = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_DESKTOPABSOLUTEPARSING, &name))) {
        return false;
    }
    chosen = Narrow(name);
    CoTaskMemFree(name);
    return true;
}

int CALLBACK BrowseCallback(HWND dialog, UINT message, LPARAM /*unused*/, LPARAM start) {
    if (message == BFFM_INITIALIZED && start != 0) {
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, start);
    }
    return 0;
}

// The classic folder browser, for systems without the modern picker.
bool PickWithFolderBrowser(HWND owner, const std::string& initialFolder, std::string& chosen) {
    const std::wstring start = Wide(initialFolder);
    wchar_t display[MAX_PATH] = {};
    BROWSEINFOW browse{};
    browse.hwndOwner = owner;
    browse.pszDisplayName = display;
    browse.ulFlags = BIF_NEWDIALOGSTYLE | BIF_RETURNONLYFSDIRS;
    browse.lpfn = BrowseCallback;
    browse.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
    PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&browse);
    if (list == nullptr) {
        return false;
    }
    wchar_t path[MAX_PATH] = {};
    const bool found = SHGetPathFromIDListW(list, path) != FALSE;
    CoTaskMemFree(list);
    if (found) {
        chosen = Narrow(path);
    }
    return found;
}

}  // namespace

bool RunHostWindow(const std::string& folder, const std::string& page, IDispatchEx* external,
                   HostEvents& events, const HostOptions& /*options*/) {
    const OleScope ole;
    if (FAILED(ole.Result())) {
        events.OnNote("OLE could not be initialised for the window: " + HexCode(ole.Result()));
        return false;
    }
    if (RegisterHostClass() == 0) {
        events.OnNote("The window class could not be registered: error " +
                      std::to_string(GetLastError()));
        return false;
    }
    WindowData data;
    data.url = win32::FileUrlOf(PagePath(folder, page));
    data.external = external;
    data.events = &events;
    HWND window = CreateWindowExW(WS_EX_APPWINDOW, kClassName, L"", WS_POPUP | WS_VISIBLE, 0, 0, 0,
                                  0, nullptr, nullptr, GetModuleHandleW(nullptr), &data);
    if (window == nullptr) {
        const DWORD error = GetLastError();
        // WM_CREATE failed after telling about the window: the pair is closed.
        if (data.announced) {
            data.announced = false;
            events.OnWindowDestroyed();
        }
        events.OnNote(FAILED(data.failure)
                          ? "The page could not be shown: " + HexCode(data.failure)
                          : "The window could not be made: error " + std::to_string(error));
        return false;
    }
    {
        const Registration registration(window);
        // Asked to end before the window was there: it closes at once.
        if (endRequested) {
            data.closeRequested = true;
        }
        RunUntilClosed(window, data);
    }
    DestroyWindow(window);
    return true;
}

void RequestEnd() {
    endRequested = true;
    PostToWindowThread(CloseLiveWindows);
}

bool IsHostWindow(Handle window) {
    return HostData(window) != nullptr;
}

void RequestClose(Handle window) {
    if (WindowData* data = HostData(window)) {
        data->closeRequested = true;
        // Wakes a loop waiting for its next message.
        PostMessageW(static_cast<HWND>(window), WM_NULL, 0, 0);
    }
}

void Show(Handle window, bool visible) {
    if (HWND target = AsWindow(window)) {
        ShowWindow(target, visible ? SW_SHOW : SW_HIDE);
    }
}

void BeginDrag(Handle window) {
    HWND target = AsWindow(window);
    if (target == nullptr) {
        return;
    }
    // The page holds the mouse; the caption's move loop takes it over.
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    ReleaseCapture();
    SendMessageW(target, WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(cursor.x, cursor.y));
}

void Activate(Handle window) {
    HWND target = AsWindow(window);
    if (target == nullptr) {
        return;
    }
    if (IsIconic(target)) {
        ShowWindow(target, SW_RESTORE);
    }
    SetForegroundWindow(target);
}

void Minimize(Handle window) {
    if (HWND target = AsWindow(window)) {
        ShowWindow(target, SW_MINIMIZE);
    }
}

int Dpi(Handle window) {
    HWND target = AsWindow(window);
    if (target != nullptr) {
        if (const auto getDpi = GetDpiForWindowOrNull()) {
            if (const UINT dpi = getDpi(target); dpi != 0) {
                return static_cast<int>(dpi);
            }
        }
    }
    // Before Windows 10, or without a window: the screen's.
    HDC screen = GetDC(target);
    if (screen == nullptr) {
        return kDefaultDpi;
    }
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(target, screen);
    return dpi > 0 ? dpi : kDefaultDpi;
}

Rect OuterFromClient(Handle window, const Rect& client) {
    HWND target = AsWindow(window);
    if (target == nullptr) {
        return client;
    }
    RECT outer{client.left, client.top, client.right, client.bottom};
    const auto style = static_cast<DWORD>(GetWindowLongW(target, GWL_STYLE));
    const auto extended = static_cast<DWORD>(GetWindowLongW(target, GWL_EXSTYLE));
    const auto adjustForDpi = AdjustWindowRectExForDpiOrNull();
    const BOOL adjusted =
        adjustForDpi != nullptr
            ? adjustForDpi(&outer, style, FALSE, extended, static_cast<UINT>(Dpi(window)))
            : AdjustWindowRectEx(&outer, style, FALSE, extended);
    return adjusted ? FromRect(outer) : client;
}

Rect ClientRect(Handle window) {
    HWND target = AsWindow(window);
    RECT client{0, 0, 0, 0};
    if (target == nullptr || !GetClientRect(target, &client)) {
        return {};
    }
    return FromRect(client);
}

void PlacementReference(Handle window, Rect& reference, Rect& workArea) {
    HWND target = AsWindow(window);
    HWND owner = target != nullptr ? GetWindow(target, GW_OWNER) : nullptr;
    RECT ownerRect{0, 0, 0, 0};
    if (owner != nullptr && GetWindowRect(owner, &ownerRect)) {
        reference = FromRect(ownerRect);
        workArea = WorkAreaOf(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST));
        return;
    }
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    workArea = WorkAreaOf(MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST));
    reference = workArea;
}

void SetPosition(Handle window, const Rect& outer) {
    if (HWND target = AsWindow(window)) {
        SetWindowPos(target, nullptr, outer.left, outer.top, outer.Width(), outer.Height(),
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

MessageAnswer ShowMessageBox(Handle window, const std::string& text, const std::string& title,
                             MessageButtons buttons) {
    UINT type = MB_OK;
    if (buttons == MessageButtons::OkCancel) {
        type = MB_OKCANCEL;
    } else if (buttons == MessageButtons::RetryCancel) {
        type = MB_RETRYCANCEL;
    }
    HWND owner = AsWindow(window);
    // A box of its own must not hide behind whatever has the foreground.
    if (owner == nullptr) {
        type |= MB_SETFOREGROUND;
    }
    const int result = MessageBoxW(owner, Wide(text).c_str(), Wide(title).c_str(), type);
    return AnswerOf(result, buttons);
}

bool SelectFolder(Handle window, const std::string& initialFolder, std::string& chosen) {
    HWND owner = AsWindow(window);
    bool shown = false;
    if (PickWithFileDialog(owner, initialFolder, chosen, shown)) {
        return true;
    }
    return !shown && PickWithFolderBrowser(owner, initialFolder, chosen);
}

}  // namespace stubframework::platform::window
