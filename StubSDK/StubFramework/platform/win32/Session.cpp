// The RunOnce entry of the machine (the 64-bit view, which the session runs
// from on every Windows) and the restart through ExitWindowsEx.
#include "platform/win32/Win32.h"

#include <string>

#include "platform/process.h"
#include "platform/session.h"
#include "platform/system.h"
#include "platform/unicode.h"

namespace stubframework::platform::session {
namespace {

constexpr const wchar_t* kRunOnceKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

class RunOnceKey {
public:
    explicit RunOnceKey(bool create) {
        const REGSAM access = KEY_SET_VALUE | KEY_WOW64_64KEY;
        const LONG opened = create
                                ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, nullptr, 0,
                                                  access, nullptr, &key_, nullptr)
                                : RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunOnceKey, 0, access, &key_);
        if (opened != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~RunOnceKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    RunOnceKey(const RunOnceKey&) = delete;
    RunOnceKey& operator=(const RunOnceKey&) = delete;

    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

class ProcessToken {
public:
    ProcessToken() {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                              &token_)) {
            token_ = nullptr;
        }
    }
    ~ProcessToken() {
        if (token_ != nullptr) {
            CloseHandle(token_);
        }
    }
    ProcessToken(const ProcessToken&) = delete;
    ProcessToken& operator=(const ProcessToken&) = delete;

    HANDLE Get() const { return token_; }

private:
    HANDLE token_ = nullptr;
};

bool EnableShutdownPrivilege() {
    const ProcessToken token;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (token.Get() == nullptr ||
        !LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) ||
        !AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr)) {
        return false;
    }
    // It "succeeds" also when the token lacks the privilege.
    return GetLastError() != ERROR_NOT_ALL_ASSIGNED;
}

}  // namespace

std::string RunOnceEntryPath(const std::string& name) {
    return "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\" + name;
}

// Windows deletes a RunOnce value before it runs the command.
bool SetRunOnce(const std::string& name, const std::string& commandLine) {
    const RunOnceKey key(true);
    const std::u16string valueName = Utf8ToUtf16(name);
    const std::u16string text = Utf8ToUtf16(commandLine);
    return key.Get() != nullptr &&
           RegSetValueExW(key.Get(), reinterpret_cast<const wchar_t*>(valueName.c_str()), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(char16_t))) ==
               ERROR_SUCCESS;
}

void RemoveRunOnce(const std::string& name) {
    const RunOnceKey key(false);
    const std::u16string valueName = Utf8ToUtf16(name);
    if (key.Get() != nullptr) {
        RegDeleteValueW(key.Get(), reinterpret_cast<const wchar_t*>(valueName.c_str()));
    }
}

bool Reboot() {
    const std::string command = process::EnvironmentVariable("STUB_REBOOT_COMMAND");
    if (!command.empty()) {
        std::uint32_t exitCode = 0;
        return process::RunProcess(system::SystemFolder() + "\\cmd.exe", "cmd.exe /c " + command,
                                   "", true, exitCode) &&
               exitCode == 0;
    }
    return EnableShutdownPrivilege() &&
           ExitWindowsEx(EWX_REBOOT | EWX_RESTARTAPPS, SHTDN_REASON_MAJOR_APPLICATION);
}

}  // namespace stubframework::platform::session
