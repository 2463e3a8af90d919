// Windows Installer packages: the calls the install engine makes, with the
// installer's own return codes. On Linux this is our own installer over
// libmsi and libgcab: it runs the package's sequence under an install root,
// records the product in the registry store, keeps a copy of the package
// for removal and repair, and undoes a failed run whole.
#pragma once

#include <cstdint>
#include <string>

namespace stubframework::platform::msi {

inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kUnknownProduct = 1605;
inline constexpr std::uint32_t kUserExit = 1602;
inline constexpr std::uint32_t kInstallFailure = 1603;
inline constexpr std::uint32_t kAlreadyRunning = 1618;
inline constexpr std::uint32_t kPackageOpenFailed = 1619;
inline constexpr std::uint32_t kPackageInvalid = 1620;
inline constexpr std::uint32_t kProductVersion = 1638;
inline constexpr std::uint32_t kInvalidCommandLine = 1639;
inline constexpr std::uint32_t kRebootRequired = 3010;

// UI levels (INSTALLUILEVEL_*).
inline constexpr std::uint32_t kUiNoChange = 0;
inline constexpr std::uint32_t kUiDefault = 1;
inline constexpr std::uint32_t kUiNone = 2;
inline constexpr std::uint32_t kUiBasic = 3;
inline constexpr std::uint32_t kUiFull = 5;
inline constexpr std::uint32_t kUiHideCancel = 0x20;

// Message types (INSTALLMESSAGE_*, the high byte) and log-mode bits.
inline constexpr std::uint32_t kMessageError = 0x01000000;
inline constexpr std::uint32_t kMessageInfo = 0x04000000;
inline constexpr std::uint32_t kMessageActionStart = 0x08000000;
inline constexpr std::uint32_t kMessageActionData = 0x09000000;
inline constexpr std::uint32_t kMessageProgress = 0x0A000000;
inline constexpr std::uint32_t kMessageTerminate = 0x0D000000;
constexpr std::uint32_t LogModeOf(std::uint32_t messageType) {
    return 1u << (messageType >> 24);
}
inline constexpr std::uint32_t kLogModeProgress = LogModeOf(kMessageProgress);    // 0x400
inline constexpr std::uint32_t kLogModeTerminate = LogModeOf(kMessageTerminate);  // 0x2000
inline constexpr std::uint32_t kLogAppend = 1;  // INSTALLLOGATTRIBUTES_APPEND
inline constexpr int kIdCancel = 2;             // a handler's answer that cancels

// An external UI handler: (context, message type, text) -> 0 to go on,
// kIdCancel to cancel the installation.
using ExternalUiHandler = int (*)(void* context, std::uint32_t messageType, const char* text);

// Process-wide settings, as with the Windows calls: each returns the
// previous value. `window` is ignored.
std::uint32_t SetInternalUI(std::uint32_t level, void* window = nullptr);
ExternalUiHandler SetExternalUI(ExternalUiHandler handler, std::uint32_t filter, void* context);
// Logs the following installations to `path` (appending with kLogAppend);
// an empty path turns logging off.
std::uint32_t EnableLog(std::uint32_t mode, const std::string& path, std::uint32_t attributes);

// Installs a package with a command line of properties (NAME=value, quoted
// values allowed). For an installed product of the same code and version it
// is a maintenance run: ADDLOCAL and REMOVE change its features, REINSTALL
// repairs it, REMOVE=ALL removes it.
std::uint32_t InstallProduct(const std::string& package, const std::string& commandLine);
// Removes an installed product by its code ("{...}").
std::uint32_t RemoveProduct(const std::string& productCode, const std::string& commandLine);
// Reinstalls an installed product from its kept package, as REINSTALLMODE
// says (missing and older files by default; what the user changed stays).
std::uint32_t RepairProduct(const std::string& productCode, const std::string& commandLine);

// A property of a package, read from its database.
bool ReadPackageProperty(const std::string& package, const std::string& name, std::string& value);
// A property of a package by a single query of its Property table, so a
// package with no other table will do. At most 255 characters; false when the
// package cannot be opened, the property is missing or the name holds a quote.
bool QueryProperty(const std::string& package, const std::string& name, std::string& value);

// Where the product's folders go ("Program Files" and the other known
// folders lie under it): $STUB_INSTALL_ROOT, else a folder in the user's data.
std::string InstallRoot();

// Holds the machine-wide installation lock while it lives; another
// installation meanwhile ends with kAlreadyRunning.
class InstallLock {
public:
    InstallLock();
    ~InstallLock();
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;
    bool Held() const { return lock_ >= 0; }
    // Not held because the lock itself could not be made (not because
    // another installation holds it).
    bool Failed() const { return failed_; }

private:
    std::intptr_t lock_ = -1;  // a file descriptor, or a Windows HANDLE
    bool failed_ = false;
};

}  // namespace stubframework::platform::msi
