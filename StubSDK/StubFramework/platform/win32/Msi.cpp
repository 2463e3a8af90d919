// Windows Installer packages through msi.dll. Windows Installer keeps its
// own record of products and their cached packages, so removal and repair
// go by product code alone; what is ours here is the UTF-8 text, the one
// UI handler trampoline, and the installation lock.
//
// The lock is Windows Installer's own: the mutex Global\_MSIExecute, which
// its service owns while an installation runs and which makes any other
// installation end with 1618. Our calls look at it before they start (Wine's
// msi.dll does not look at it at all), and this process runs one of its calls
// or holds one InstallLock at a time, so each keeps the other out.
#include "platform/msi.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "platform/commandline.h"
#include "platform/unicode.h"
#include "platform/win32/Win32.h"

#include <msi.h>
#include <msiquery.h>

namespace stubframework::platform::msi {
namespace {

constexpr wchar_t kExecuteMutex[] = L"Global\\_MSIExecute";
constexpr std::size_t kReaderUnits = 255;

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Conversions may run out of memory; nothing is thrown past the header.
template <typename Call>
std::uint32_t Guarded(Call&& call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return kInstallFailure;
    } catch (const std::length_error&) {
        return kInstallFailure;
    }
}

class MsiHandle {
public:
    MsiHandle() = default;
    explicit MsiHandle(MSIHANDLE handle) : handle_(handle) {}
    ~MsiHandle() {
        if (handle_ != 0) {
            MsiCloseHandle(handle_);
        }
    }
    MsiHandle(const MsiHandle&) = delete;
    MsiHandle& operator=(const MsiHandle&) = delete;
    MSIHANDLE Get() const { return handle_; }
    MSIHANDLE* Out() { return &handle_; }

private:
    MSIHANDLE handle_ = 0;
};

// Text from an msi.dll reader: buffer, size in units without the null, and
// ERROR_MORE_DATA with the size needed when the buffer is short.
template <typename Read>
bool ReadText(Read&& read, std::u16string& text) {
    std::u16string buffer(256, u'\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD size = static_cast<DWORD>(buffer.size());
        const UINT result = read(reinterpret_cast<wchar_t*>(buffer.data()), &size);
        if (result == ERROR_MORE_DATA) {
            buffer.assign(static_cast<std::size_t>(size) + 1, u'\0');
            continue;
        }
        if (result != ERROR_SUCCESS) {
            return false;
        }
        buffer.resize(std::min<std::size_t>(size, buffer.size() - 1));
        text = std::move(buffer);
        return true;
    }
    return false;  // the value kept growing
}

// Windows' readers hand out at most 255 UTF-16 units; a pair is not split.
std::u16string CutToReaderLength(std::u16string text) {
    if (text.size() <= kReaderUnits) {
        return text;
    }
    std::size_t end = kReaderUnits;
    if (text[end - 1] >= 0xD800 && text[end - 1] <= 0xDBFF) {
        --end;
    }
    text.resize(end);
    return text;
}

bool HasQuote(std::string_view name) {
    constexpr std::string_view kQuotes{"'\"`\0", 4};
    return name.find_first_of(kQuotes) != std::string_view::npos;
}

// Whether the command line sets the property `name` (NAME=value).
bool SetsProperty(const std::string& commandLine, std::string_view name) {
    for (const std::string& argument : SplitCommandLine("msiexec " + commandLine)) {
        const std::size_t equals = argument.find('=');
        if (equals != std::string::npos && std::string_view(argument).substr(0, equals) == name) {
            return true;
        }
    }
    return false;
}

// The UI handler and its context, for the one trampoline msi.dll calls.
struct UiState {
    std::mutex lock;
    ExternalUiHandler handler = nullptr;
    void* context = nullptr;
};

UiState& Ui() {
    static UiState state;
    return state;
}

int WINAPI UiTrampoline(LPVOID /*context*/, UINT messageType, LPCWSTR message) {
    ExternalUiHandler handler = nullptr;
    void* context = nullptr;
    {
        UiState& state = Ui();
        const std::lock_guard<std::mutex> guard(state.lock);
        handler = state.handler;
        context = state.context;
    }
    if (handler == nullptr) {
        return 0;
    }
    std::string text;
    try {
        if (message != nullptr) {
            text = Utf16ToUtf8(reinterpret_cast<const char16_t*>(message));
        }
    } catch (const std::bad_alloc&) {
        return 0;  // the installer shows the message itself
    }
    return handler(context, messageType, message != nullptr ? text.c_str() : nullptr);
}

// Whether this process installs, or holds an InstallLock: one at a time. (A
// mutex taken again by its owning thread would be granted.)
std::atomic<bool>& BusyHere() {
    static std::atomic<bool> busy{false};
    return busy;
}

HANDLE OpenExecuteMutex() {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, kExecuteMutex);
    if (mutex == nullptr && GetLastError() == ERROR_ACCESS_DENIED) {
        // The service's mutex, or no right to make global objects: waiting
        // on it needs no more than SYNCHRONIZE.
        mutex = OpenMutexW(SYNCHRONIZE, FALSE, kExecuteMutex);
    }
    return mutex;
}

// Another process owns the installer's mutex. One that cannot be opened
// here (no right to make global objects) is no sign of it: the installer
// decides then.
bool OwnedElsewhere() {
    HANDLE mutex = OpenExecuteMutex();
    if (mutex == nullptr) {
        return false;
    }
    const DWORD wait = WaitForSingleObject(mutex, 0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        ReleaseMutex(mutex);
    }
    CloseHandle(mutex);
    return wait == WAIT_TIMEOUT;
}

// Runs one installer call unless another installation runs. The mutex is
// let go before: the installer service takes it itself and would find it
// taken.
template <typename Call>
std::uint32_t Alone(Call&& call) {
    if (BusyHere().exchange(true)) {
        return kAlreadyRunning;
    }
    struct Done {
        ~Done() { BusyHere() = false; }
    } done;
    if (OwnedElsewhere()) {
        return kAlreadyRunning;
    }
    return call();
}

}  // namespace

std::uint32_t SetInternalUI(std::uint32_t level, void* /*window*/) {
    return static_cast<std::uint32_t>(
        MsiSetInternalUI(static_cast<INSTALLUILEVEL>(level), nullptr));
}

ExternalUiHandler SetExternalUI(ExternalUiHandler handler, std::uint32_t filter, void* context) {
    UiState& state = Ui();
    const std::lock_guard<std::mutex> guard(state.lock);
    const ExternalUiHandler previous = state.handler;
    state.handler = handler;
    state.context = context;
    MsiSetExternalUIW(handler != nullptr ? &UiTrampoline : nullptr, filter, nullptr);
    return previous;
}

std::uint32_t EnableLog(std::uint32_t mode, const std::string& path, std::uint32_t attributes) {
    if (mode == 0 || path.empty()) {
        return MsiEnableLogW(0, nullptr, 0);
    }
    return Guarded([&] {
        return static_cast<std::uint32_t>(MsiEnableLogW(mode, Wide(Utf8ToUtf16(path)), attributes));
    });
}

std::uint32_t InstallProduct(const std::string& package, const std::string& commandLine) {
    return Guarded([&] {
        const std::u16string widePackage = Utf8ToUtf16(package);
        const std::u16string wideLine = Utf8ToUtf16(commandLine);
        return Alone([&] { return MsiInstallProductW(Wide(widePackage), Wide(wideLine)); });
    });
}

std::uint32_t RemoveProduct(const std::string& productCode, const std::string& commandLine) {
    return Guarded([&] {
        const std::u16string code = Utf8ToUtf16(productCode);
        const std::u16string line = Utf8ToUtf16(commandLine);
        return Alone([&] {
            return MsiConfigureProductExW(Wide(code), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT,
                                          Wide(line));
        });
    });
}

std::uint32_t RepairProduct(const std::string& productCode, const std::string& commandLine) {
    return Guarded([&] {
        // Every feature, missing and older files, unless the caller says
        // which and how.
        std::string line;
        if (!SetsProperty(commandLine, "REINSTALL")) {
            line += "REINSTALL=ALL ";
        }
        if (!SetsProperty(commandLine, "REINSTALLMODE")) {
            line += "REINSTALLMODE=omus ";
        }
        line += commandLine;
        const std::u16string code = Utf8ToUtf16(productCode);
        const std::u16string wideLine = Utf8ToUtf16(line);
        return Alone([&] {
            return MsiConfigureProductExW(Wide(code), INSTALLLEVEL_DEFAULT, INSTALLSTATE_DEFAULT,
                                          Wide(wideLine));
        });
    });
}

bool ReadPackageProperty(const std::string& package, const std::string& name, std::string& value) {
    try {
        MsiHandle session;
        if (MsiOpenPackageExW(Wide(Utf8ToUtf16(package)), MSIOPENPACKAGEFLAGS_IGNOREMACHINESTATE,
                              session.Out()) != ERROR_SUCCESS) {
            return false;
        }
        // The name goes into the installer's own query; a quote is in no
        // property's name.
        if (HasQuote(name)) {
            value.clear();
            return true;
        }
        const std::u16string wideName = Utf8ToUtf16(name);
        std::u16string text;
        if (!ReadText(
                [&](wchar_t* buffer, DWORD* size) {
                    return MsiGetProductPropertyW(session.Get(), Wide(wideName), buffer, size);
                },
                text)) {
            return false;
        }
        value = Utf16ToUtf8(text);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool QueryProperty(const std::string& package, const std::string& name, std::string& value) {
    if (HasQuote(name)) {
        return false;
    }
    try {
        MsiHandle database;
        if (MsiOpenDatabaseW(Wide(Utf8ToUtf16(package)), MSIDBOPEN_READONLY, database.Out()) !=
            ERROR_SUCCESS) {
            return false;
        }
        MsiHandle view;
        if (MsiDatabaseOpenViewW(database.Get(),
                                 L"SELECT `Value` FROM `Property` WHERE `Property` = ?",
                                 view.Out()) != ERROR_SUCCESS) {
            return false;
        }
        const MsiHandle parameters(MsiCreateRecord(1));
        if (parameters.Get() == 0 ||
            MsiRecordSetStringW(parameters.Get(), 1, Wide(Utf8ToUtf16(name))) != ERROR_SUCCESS ||
            MsiViewExecute(view.Get(), parameters.Get()) != ERROR_SUCCESS) {
            return false;
        }
        MsiHandle record;
        if (MsiViewFetch(view.Get(), record.Out()) != ERROR_SUCCESS) {
            return false;
        }
        std::u16string text;
        if (!ReadText(
                [&](wchar_t* buffer, DWORD* size) {
                    return MsiRecordGetStringW(record.Get(), 1, buffer, size);
                },
                text)) {
            return false;
        }
        value = Utf16ToUtf8(CutToReaderLength(std::move(text)));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Windows' folders are real: the known folders lie under the root of the
// drive Windows is on, whatever $STUB_INSTALL_ROOT says.
std::string InstallRoot() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = GetSystemWindowsDirectoryW(folder, MAX_PATH + 1);
    if (length >= 2 && length <= MAX_PATH && folder[1] == L':') {
        return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(folder), 2)) +
               "\\";
    }
    return "C:\\";
}

// The mutex belongs to the thread that took it: a lock ends on that thread.
InstallLock::InstallLock() {
    HANDLE mutex = OpenExecuteMutex();
    if (mutex == nullptr) {
        failed_ = true;
        return;
    }
    if (BusyHere().exchange(true)) {
        CloseHandle(mutex);
        return;
    }
    const DWORD wait = WaitForSingleObject(mutex, 0);
    // An abandoned mutex is ours now: its installation died with its owner.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        lock_ = reinterpret_cast<std::intptr_t>(mutex);
        return;
    }
    BusyHere() = false;
    failed_ = wait == WAIT_FAILED;
    CloseHandle(mutex);
}

InstallLock::~InstallLock() {
    if (lock_ < 0) {
        return;
    }
    const auto mutex = reinterpret_cast<HANDLE>(lock_);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    BusyHere() = false;
}

}  // namespace stubframework::platform::msi
