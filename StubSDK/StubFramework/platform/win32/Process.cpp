#include "platform/win32/Win32.h"
// After windows.h, which they need.
#include <exdisp.h>
#include <servprov.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/commandline.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace stubframework::platform::process {
namespace {

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

wchar_t* Wide(std::u16string& text) {
    return reinterpret_cast<wchar_t*>(text.data());
}

class UniqueHandle {
public:
    explicit UniqueHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~UniqueHandle() {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

private:
    HANDLE handle_;
};

// A COM interface pointer that releases its reference.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (object_ != nullptr) {
            object_->Release();
        }
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* operator->() const { return object_; }
    T* Get() const { return object_; }
    T** Put() { return &object_; }
    void** PutVoid() { return reinterpret_cast<void**>(&object_); }

private:
    T* object_ = nullptr;
};

class ComApartment {
public:
    ComApartment() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (initialised_) {
            CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    const bool initialised_;
};

class OwnedVariant {
public:
    OwnedVariant() { VariantInit(&value_); }
    explicit OwnedVariant(const std::u16string& text) : OwnedVariant() {
        value_.vt = VT_BSTR;
        value_.bstrVal = SysAllocString(Wide(text));
    }
    ~OwnedVariant() { VariantClear(&value_); }
    OwnedVariant(const OwnedVariant&) = delete;
    OwnedVariant& operator=(const OwnedVariant&) = delete;

    VARIANT* Get() { return &value_; }

private:
    VARIANT value_;
};

std::vector<std::string>& StoredArguments() {
    static std::vector<std::string> arguments;
    return arguments;
}

// The children RunProcess waits for, to pass end requests on to.
struct WaitedChildren {
    std::mutex mutex;
    std::set<DWORD> children;
};

WaitedChildren& Waited() {
    static WaitedChildren waited;
    return waited;
}

class WaitingFor {
public:
    explicit WaitingFor(DWORD child) : child_(child) {
        const std::lock_guard<std::mutex> lock(Waited().mutex);
        Waited().children.insert(child_);
    }
    ~WaitingFor() {
        const std::lock_guard<std::mutex> lock(Waited().mutex);
        Waited().children.erase(child_);
    }
    WaitingFor(const WaitingFor&) = delete;
    WaitingFor& operator=(const WaitingFor&) = delete;

private:
    DWORD child_;
};

struct StartedChild {
    UniqueHandle process;
    DWORD id = 0;
};

// CreateProcess with the command line as it is, no inherited handles and
// the parent's environment.
std::optional<StartedChild> StartChild(const std::string& application,
                                       const std::string& commandLine,
                                       const std::string& currentDirectory, DWORD flags,
                                       STARTUPINFOW& startup) {
    const std::u16string wideApplication = Utf8ToUtf16(application);
    // CreateProcessW may write into the command line: a copy of our own.
    std::u16string line = Utf8ToUtf16(commandLine);
    const std::u16string folder = Utf8ToUtf16(currentDirectory);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(application.empty() ? nullptr : Wide(wideApplication), Wide(line), nullptr,
                        nullptr, FALSE, flags, nullptr,
                        currentDirectory.empty() ? nullptr : Wide(folder), &startup, &started)) {
        return std::nullopt;
    }
    CloseHandle(started.hThread);
    StartedChild child;
    child.process = UniqueHandle(started.hProcess);
    child.id = started.dwProcessId;
    return child;
}

// The arguments as one text that a Windows program splits back into them.
std::string JoinArguments(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return {};
    }
    std::vector<std::string> line{"x"};
    line.insert(line.end(), arguments.begin(), arguments.end());
    return BuildCommandLine(line).substr(2);
}

// cmd.exe from the system folder by full path: the search would find one
// planted beside the executable first.
std::string CommandInterpreter() {
    return system::SystemFolder() + "\\cmd.exe";
}

// The desktop's shell application object: the programs it starts run with
// the desktop user's rights, not with ours when we run elevated.
HRESULT DesktopShell(ComRef<IShellDispatch2>& shell) {
    ComRef<IShellWindows> windows;
    HRESULT result = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows,
                                      windows.PutVoid());
    if (FAILED(result)) {
        return result;
    }
    OwnedVariant location;
    location.Get()->vt = VT_I4;
    location.Get()->lVal = CSIDL_DESKTOP;
    OwnedVariant root;
    LONG window = 0;
    ComRef<IDispatch> desktop;
    result = windows->FindWindowSW(location.Get(), root.Get(), SWC_DESKTOP, &window,
                                   SWFO_NEEDDISPATCH, desktop.Put());
    if (result != S_OK || desktop.Get() == nullptr) {
        return FAILED(result) ? result : E_FAIL;
    }
    ComRef<IServiceProvider> provider;
    ComRef<IShellBrowser> browser;
    ComRef<IShellView> view;
    ComRef<IDispatch> background;
    ComRef<IShellFolderViewDual> folderView;
    ComRef<IDispatch> application;
    if (FAILED(result = desktop->QueryInterface(IID_IServiceProvider, provider.PutVoid())) ||
        FAILED(result = provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                               browser.PutVoid())) ||
        FAILED(result = browser->QueryActiveShellView(view.Put())) ||
        FAILED(result =
                   view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.PutVoid())) ||
        FAILED(result =
                   background->QueryInterface(IID_IShellFolderViewDual, folderView.PutVoid())) ||
        FAILED(result = folderView->get_Application(application.Put()))) {
        return result;
    }
    return application->QueryInterface(IID_IShellDispatch2, shell.PutVoid());
}

HRESULT ShellExecuteAsDesktop(const std::u16string& file, const std::u16string& parameters) {
    const ComApartment apartment;
    ComRef<IShellDispatch2> shell;
    const HRESULT result = DesktopShell(shell);
    if (FAILED(result)) {
        return result;
    }
    AllowSetForegroundWindow(ASFW_ANY);
    OwnedVariant name(file);
    OwnedVariant arguments(parameters);
    OwnedVariant directory;
    OwnedVariant verb;
    OwnedVariant show;
    return shell->ShellExecute(name.Get()->bstrVal, *arguments.Get(), *directory.Get(), *verb.Get(),
                               *show.Get());
}

// True when we hold the elevated half of a split token: what we start
// directly would run with rights the desktop user does not have.
bool RunsElevatedForDesktop() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return false;
    }
    const UniqueHandle token(raw);
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenElevationType, &type, sizeof type, &size) &&
           type == TokenElevationTypeFull;
}

bool ShellExecuteDirect(const std::u16string& file, const std::u16string& parameters,
                        const wchar_t* verb) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = verb;
    info.lpFile = Wide(file);
    info.lpParameters = parameters.empty() ? nullptr : Wide(parameters);
    info.nShow = SW_SHOW;
    if (!ShellExecuteExW(&info)) {
        return false;
    }
    if (info.hProcess != nullptr) {
        CloseHandle(info.hProcess);
    }
    return true;
}

// Whether the process behind `process` still runs. A handle can outlive the
// process it names, so opening one proves nothing.
bool StillRuns(HANDLE process, bool canWait) {
    if (canWait) {
        return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    }
    DWORD code = 0;
    return GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
}

struct CloseArguments {
    const std::set<DWORD>* children;
};

BOOL CALLBACK CloseWindowOfChild(HWND window, LPARAM parameter) {
    const auto* arguments = reinterpret_cast<const CloseArguments*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    // Owned windows (dialogs) go with their owner.
    if (arguments->children->count(owner) != 0 && GetWindow(window, GW_OWNER) == nullptr) {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

}  // namespace

void SetArguments(int argc, char** argv) {
    auto& arguments = StoredArguments();
    // argv holds the ANSI code page's spelling; the wide command line holds
    // every character. Arguments given by someone else are taken as they are.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide != nullptr && count == argc) {
        arguments.clear();
        for (int i = 0; i < count; ++i) {
            arguments.push_back(Utf16ToUtf8(reinterpret_cast<const char16_t*>(wide[i])));
        }
    } else {
        arguments.assign(argv, argv + argc);
    }
    LocalFree(wide);
}

const std::vector<std::string>& Arguments() {
    return StoredArguments();
}

std::string ExecutablePath() {
    std::u16string buffer(MAX_PATH, u'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, Wide(buffer), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return Utf16ToUtf8(buffer);
        }
        // Cut short: the path is longer than the buffer.
        if (buffer.size() >= 0x8000) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Windows keeps a running executable's file from being removed or written.
std::string RunningImagePath() {
    return ExecutablePath();
}

std::uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

std::string EnvironmentVariable(const char* name) {
    const std::u16string wideName = Utf8ToUtf16(name);
    std::u16string value(256, u'\0');
    for (;;) {
        const DWORD length =
            GetEnvironmentVariableW(Wide(wideName), Wide(value), static_cast<DWORD>(value.size()));
        if (length == 0) {
            return {};
        }
        if (length < value.size()) {
            value.resize(length);
            return Utf16ToUtf8(value);
        }
        // Too small: `length` counts the terminator too. Loop, the value
        // may have grown meanwhile.
        value.resize(length);
    }
}

void SetEnvironmentVariable(const char* name, const std::string& value) {
    const std::u16string wideName = Utf8ToUtf16(name);
    const std::u16string wideValue = Utf8ToUtf16(value);
    SetEnvironmentVariableW(Wide(wideName), value.empty() ? nullptr : Wide(wideValue));
}

void ExitProcess(std::uint32_t exitCode) {
    std::fflush(nullptr);
    ::ExitProcess(exitCode);
}

ChildProcess::~ChildProcess() {
    // The child runs on; only our handle to it goes.
    if (pidfd_ != -1) {
        CloseHandle(LongToHandle(pidfd_));
    }
}

// pidfd_ holds the process handle: kernel handles keep to 32 bits, also in
// 64-bit processes, so LongToHandle gives it back whole.
bool ChildProcess::Start(const std::string& commandLine) {
    if (pid_ > 0) {
        return false;
    }
    STARTUPINFOW startup{};
    std::optional<StartedChild> child = StartChild("", commandLine, "", 0, startup);
    if (!child) {
        return false;
    }
    pid_ = static_cast<int>(child->id);
    pidfd_ = HandleToLong(child->process.Release());
    return true;
}

bool ChildProcess::Wait(std::uint32_t timeoutMs, std::uint32_t& exitCode) {
    if (pid_ <= 0 || pidfd_ == -1) {
        return false;
    }
    HANDLE process = LongToHandle(pidfd_);
    // kInfiniteWait is INFINITE.
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = kUnknownExitCode;
    exitCode = GetExitCodeProcess(process, &code) ? code : kUnknownExitCode;
    CloseHandle(process);
    pidfd_ = -1;
    pid_ = -1;
    return true;
}

bool RunProcess(const std::string& application, const std::string& commandLine,
                const std::string& currentDirectory, bool wait, std::uint32_t& exitCode) {
    exitCode = 0;
    STARTUPINFOW startup{};
    const std::optional<StartedChild> child =
        StartChild(application, commandLine, currentDirectory, 0, startup);
    if (!child) {
        return false;
    }
    if (!wait) {
        return true;
    }
    const WaitingFor waiting(child->id);
    DWORD code = 0;
    if (WaitForSingleObject(child->process.Get(), INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(child->process.Get(), &code)) {
        return false;
    }
    exitCode = code;
    return true;
}

namespace {

// What the desktop shell starts runs with the desktop user's rights; with no
// desktop shell to ask, what we start ourselves does unless we hold more.
bool ShellExecuteForDesktop(const std::u16string& file, const std::u16string& parameters) {
    if (SUCCEEDED(ShellExecuteAsDesktop(file, parameters))) {
        return true;
    }
    return !RunsElevatedForDesktop() && ShellExecuteDirect(file, parameters, nullptr);
}

// No console of ours, and none shown for the child.
bool StartHidden(const std::string& application, const std::string& commandLine) {
    STARTUPINFOW startup{};
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = nullptr;
    startup.hStdOutput = nullptr;
    startup.hStdError = nullptr;
    return StartChild(application, commandLine, "", CREATE_NO_WINDOW, startup).has_value();
}

}  // namespace

bool LaunchAsDesktopUser(const std::string& program, const std::vector<std::string>& arguments) {
    return ShellExecuteForDesktop(Utf8ToUtf16(program), Utf8ToUtf16(JoinArguments(arguments)));
}

bool OpenWithDesktop(const std::string& target) {
    return ShellExecuteForDesktop(Utf8ToUtf16(target), std::u16string());
}

bool LaunchHidden(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> line{program};
    line.insert(line.end(), arguments.begin(), arguments.end());
    return StartHidden("", BuildCommandLine(line));
}

bool RunShellCommand(const std::string& command) {
    return StartHidden(CommandInterpreter(), "cmd.exe /c " + command);
}

bool LaunchElevated(const std::string& program, const std::vector<std::string>& arguments) {
    return ShellExecuteDirect(Utf8ToUtf16(program), Utf8ToUtf16(JoinArguments(arguments)),
                              L"runas");
}

bool WaitForProcessExit(std::uint32_t processId) {
    const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process.Valid()) {
        return false;
    }
    return WaitForSingleObject(process.Get(), INFINITE) == WAIT_OBJECT_0;
}

std::string ProcessMark(std::uint32_t processId) {
    bool canWait = true;
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, processId));
    if (!process.Valid()) {
        canWait = false;
        process = UniqueHandle(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    }
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!process.Valid() || !StillRuns(process.Get(), canWait) ||
        !GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) {
        return {};
    }
    const std::uint64_t start =
        (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    return std::to_string(processId) + ":" + std::to_string(start);
}

bool IsProgramRunning(const std::string& program) {
    if (program.empty()) {
        return false;
    }
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) {
        return false;
    }
    const std::string wanted = FoldCase(program);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more;
         more = Process32NextW(snapshot.Get(), &entry)) {
        std::string name = Utf16ToUtf8(reinterpret_cast<const char16_t*>(entry.szExeFile));
        name.erase(0, name.find_last_of("\\/") + 1);
        if (FoldCase(name) == wanted) {
            return true;
        }
    }
    return false;
}

// The children are programs with windows: a close of their windows is how
// they are asked to end.
void ForwardToWaitedChildren(int /*request*/) {
    const std::lock_guard<std::mutex> lock(Waited().mutex);
    if (Waited().children.empty()) {
        return;
    }
    CloseArguments arguments{&Waited().children};
    EnumWindows(CloseWindowOfChild, reinterpret_cast<LPARAM>(&arguments));
}

void PreloadSystemLibrary(const char* name) {
    const std::u16string path = Utf8ToUtf16(system::SystemFolder() + "\\" + name);
    // Kept loaded for good: later loads by name find this one.
    LoadLibraryExW(Wide(path), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace stubframework::platform::process
