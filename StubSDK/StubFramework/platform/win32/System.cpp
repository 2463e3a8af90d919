#include "platform/win32/Win32.h"
// After windows.h, which they need.
#include <knownfolders.h>
#include <shlobj.h>
#include <wininet.h>

#include <optional>
#include <string>

#include "platform/process.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace stubframework::platform::system {
namespace {

std::string Narrow(const wchar_t* text) {
    return Utf16ToUtf8(reinterpret_cast<const char16_t*>(text));
}

// A function of a system library that older Windows versions lack; null
// there. The libraries named are loaded in every process.
template <typename Function>
Function SystemFunction(const wchar_t* module, const char* name) {
    const HMODULE library = GetModuleHandleW(module);
    const FARPROC address = library != nullptr ? GetProcAddress(library, name) : nullptr;
    // Through the generic function type: the cast between two others warns.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

class RegistryKey {
public:
    RegistryKey(HKEY root, const wchar_t* path, REGSAM access) {
        if (RegOpenKeyExW(root, path, 0, access, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~RegistryKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Machine facts live in the native view, also for a 32-bit process.
std::optional<DWORD> MachineNumber(const wchar_t* path, const wchar_t* name) {
    const RegistryKey key(HKEY_LOCAL_MACHINE, path, KEY_QUERY_VALUE | KEY_WOW64_64KEY);
    DWORD value = 0;
    DWORD size = sizeof value;
    if (key.Get() == nullptr || RegGetValueW(key.Get(), nullptr, name, RRF_RT_REG_DWORD, nullptr,
                                             &value, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return value;
}

std::string RegistryText(HKEY root, const wchar_t* path, const wchar_t* name, REGSAM view) {
    const RegistryKey key(root, path, KEY_QUERY_VALUE | view);
    DWORD size = 0;
    if (key.Get() == nullptr || RegGetValueW(key.Get(), nullptr, name, RRF_RT_REG_SZ, nullptr,
                                             nullptr, &size) != ERROR_SUCCESS) {
        return {};
    }
    std::u16string text(size / sizeof(char16_t) + 1, u'\0');
    size = static_cast<DWORD>(text.size() * sizeof(char16_t));
    if (RegGetValueW(key.Get(), nullptr, name, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
        ERROR_SUCCESS) {
        return {};
    }
    text.resize(text.find(u'\0'));
    return Utf16ToUtf8(text);
}

std::optional<RTL_OSVERSIONINFOW> TrueVersion() {
    // LONG for NTSTATUS; winternl.h would clash with the headers above.
    using RtlGetVersionFunction = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    const auto rtlGetVersion = SystemFunction<RtlGetVersionFunction>(L"ntdll.dll", "RtlGetVersion");
    RTL_OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (rtlGetVersion == nullptr || rtlGetVersion(&version) != 0) {
        return std::nullopt;
    }
    return version;
}

std::uint16_t ArchitectureOfMachine(USHORT machine) {
    switch (machine) {
        case IMAGE_FILE_MACHINE_I386:
            return kProcessorArchitectureIntel;
        case IMAGE_FILE_MACHINE_AMD64:
            return kProcessorArchitectureAmd64;
        case IMAGE_FILE_MACHINE_ARMNT:
            return kProcessorArchitectureArm;
        case IMAGE_FILE_MACHINE_IA64:
            return kProcessorArchitectureIa64;
        case 0xAA64:  // IMAGE_FILE_MACHINE_ARM64
            return kProcessorArchitectureArm64;
        default:
            return kProcessorArchitectureUnknown;
    }
}

std::string KnownFolder(REFKNOWNFOLDERID folder) {
    PWSTR path = nullptr;
    std::string text;
    if (SUCCEEDED(SHGetKnownFolderPath(folder, 0, nullptr, &path))) {
        text = Narrow(path);
    }
    CoTaskMemFree(path);
    // "C:\" keeps its separator: without it the text names a drive's current folder.
    while (text.size() > 3 && (text.back() == '\\' || text.back() == '/')) {
        text.pop_back();
    }
    return text;
}

constexpr const wchar_t* kProcessorKey = L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";

}  // namespace

std::uint16_t NativeProcessorArchitecture() {
    // IsWow64Process2 tells the machine also to an emulated process on ARM64.
    using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const auto isWow64Process2 =
        SystemFunction<IsWow64Process2Function>(L"kernel32.dll", "IsWow64Process2");
    USHORT process = 0;
    USHORT native = 0;
    if (isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &process, &native)) {
        const std::uint16_t architecture = ArchitectureOfMachine(native);
        if (architecture != kProcessorArchitectureUnknown) {
            return architecture;
        }
    }
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture;
}

std::uint16_t UserDefaultUILanguage() {
    return GetUserDefaultUILanguage();
}

std::int32_t UserGeoId() {
    return static_cast<std::int32_t>(GetUserGeoID(GEOCLASS_NATION));
}

// The browser the desktop offers in its Start menu, the user's choice first.
std::string DefaultBrowserName() {
    constexpr const wchar_t* kStartMenuInternet = L"Software\\Clients\\StartMenuInternet";
    for (const HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        std::string name = RegistryText(root, kStartMenuInternet, nullptr, 0);
        if (!name.empty()) {
            return name;
        }
    }
    return {};
}

std::optional<WindowsVersion> OsVersion() {
    // The manifest declares the versions we know, so the true one is reported.
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) {
        return std::nullopt;
    }
    WindowsVersion version;
    version.major = info.dwMajorVersion;
    version.minor = info.dwMinorVersion;
    version.build = info.dwBuildNumber;
    version.productType = info.wProductType;
    return version;
}

std::string VersionText() {
    const std::optional<WindowsVersion> version = OsVersion();
    if (!version) {
        return {};
    }
    return std::to_string(version->major) + "." + std::to_string(version->minor);
}

std::string FullVersionText() {
    const std::optional<RTL_OSVERSIONINFOW> version = TrueVersion();
    if (!version) {
        const std::optional<WindowsVersion> reported = OsVersion();
        return reported ? VersionText() + "." + std::to_string(reported->build) : std::string();
    }
    return std::to_string(version->dwMajorVersion) + "." + std::to_string(version->dwMinorVersion) +
           "." + std::to_string(version->dwBuildNumber);
}

bool HasNetworkConnection() {
    // Tests choose the answer, as on other systems.
    const std::string forced = process::EnvironmentVariable("STUB_NETWORK");
    if (forced == "online" || forced == "offline") {
        return forced == "online";
    }
    DWORD flags = 0;
    return InternetGetConnectedState(&flags, 0) != FALSE;
}

std::string DesktopFolder() {
    return KnownFolder(FOLDERID_Desktop);
}

std::string CommonAppDataFolder() {
    return KnownFolder(FOLDERID_ProgramData);
}

std::string SystemFolder() {
    std::u16string folder(MAX_PATH, u'\0');
    for (;;) {
        const UINT length = GetSystemDirectoryW(reinterpret_cast<wchar_t*>(folder.data()),
                                                static_cast<UINT>(folder.size()));
        if (length == 0) {
            return {};
        }
        if (length < folder.size()) {
            folder.resize(length);
            return Utf16ToUtf8(folder);
        }
        // Too small: `length` counts the terminator too.
        folder.resize(length);
    }
}

MachineFacts ReadMachineFacts() {
    MachineFacts facts;
    facts.operatingSystem = "Windows";
    const std::uint16_t architecture = NativeProcessorArchitecture();
    facts.is64Bit = architecture == kProcessorArchitectureAmd64 ||
                    architecture == kProcessorArchitectureArm64 ||
                    architecture == kProcessorArchitectureIa64;
    // The build and the update revision: "19045.3803".
    const std::optional<RTL_OSVERSIONINFOW> version = TrueVersion();
    const DWORD revision =
        MachineNumber(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"UBR").value_or(0);
    facts.osVersion =
        std::to_string(version ? version->dwBuildNumber : 0) + "." + std::to_string(revision);
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    facts.processorCount = info.dwNumberOfProcessors;
    facts.maxClockMhz = MachineNumber(kProcessorKey, L"~MHz").value_or(0);
    // The processor's own maker: the processor type tells only the instruction set.
    const std::string vendor =
        RegistryText(HKEY_LOCAL_MACHINE, kProcessorKey, L"VendorIdentifier", KEY_WOW64_64KEY);
    facts.processorVendor = vendor == "GenuineIntel"   ? "Intel"
                            : vendor == "AuthenticAMD" ? "AMD"
                                                       : "Unknown";
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof memory;
    if (GlobalMemoryStatusEx(&memory)) {
        facts.memoryBytes = memory.ullTotalPhys;
    }
    return facts;
}

}  // namespace stubframework::platform::system
