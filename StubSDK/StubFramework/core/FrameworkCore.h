// The context the method handlers and the reports read: product values,
// status, exit code, system facts and the property store.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "core/Attachments.h"
#include "core/ProductValues.h"
#include "core/PropertyStore.h"

namespace stubframework::core {

inline constexpr std::int32_t kUnset = 2147483647;
inline constexpr const char* kStubRegistryRoot =
    "HKEY_CURRENT_USER\\SOFTWARE\\Zelvo\\stubframework";

// The part of a version before its first ".".
std::string MajorVersion(const std::string& version);

// "...\stubframework\<product id>\<major version>"
std::string StubRegistryKey(const std::string& productId, const std::string& version);

// The rule that names the Windows release in reports; "Other" elsewhere.
std::string OsNameFromVersion(bool known, std::uint32_t major, std::uint32_t minor,
                              std::uint8_t productType, std::uint16_t architecture);

class FrameworkCore {
public:
    explicit FrameworkCore(const ProductValues& product);
    FrameworkCore(const FrameworkCore&) = delete;
    FrameworkCore& operator=(const FrameworkCore&) = delete;

    const std::string& RegistryBase() const { return registryBase_; }

    // Getters fall back to the registry value of the same name when the
    // field is empty (texts) or unset (status).
    const std::string& ProductId();
    const std::string& ProductVersion();
    const std::string& Channel();
    std::int32_t Status();

    // Stores the status and persists it as "status".
    void SetStatus(std::int32_t status);
    void SetChannel(const std::string& channel);
    // Picks a row of the language table: property "lang", install language,
    // registry value "install_language".
    void SetLanguage(int languageNumber);

    std::int32_t ExitCode() const { return exitCode_; }
    void SetExitCode(std::int32_t code) { exitCode_ = code; }

    const std::string& RequestToken() const { return requestToken_; }
    const std::string& Country() const { return country_; }
    const std::string& InstallLanguage() const { return installLanguage_; }
    const std::string& OsName() const { return osName_; }
    int UiLanguageIndex() const { return uiLanguageIndex_; }
    const std::string& Architecture() const { return architecture_; }
    const std::string& DefaultBrowser() const { return defaultBrowser_; }
    const std::string& ReportVersion() const { return reportVersion_; }
    const std::string& MachineIdentifier() const { return machineIdentifier_; }
    const std::string& PassThrough() const { return passThrough_; }
    // The command an installer is told to run when it ends; "$GUID$" in it
    // becomes the run's GUID. Empty for products that launch nothing.
    const std::string& LaunchOnExit() const { return launchOnExit_; }
    void SetLaunchOnExit(const std::string& command) { launchOnExit_ = command; }

    std::map<std::string, std::string>& ExternalProperties() { return externalProperties_; }
    PropertyStore& Properties() { return properties_; }
    // The files the error report carries.
    Attachments& AttachedFiles() { return attachments_; }

private:
    bool ReadFallback(const char* name, std::string& field) const;

    std::string registryBase_;
    std::string requestToken_;
    std::string country_;
    std::string productId_;
    std::string productVersion_;
    std::string channel_;
    std::string installLanguage_;
    std::int32_t status_ = kUnset;
    std::atomic<std::int32_t> exitCode_{kUnset};  // set by the self-update worker
    std::string osName_;
    int uiLanguageIndex_ = 0;
    std::string architecture_;
    std::string defaultBrowser_;
    std::string reportVersion_ = "1.0";
    std::string machineIdentifier_;
    std::map<std::string, std::string> externalProperties_;
    PropertyStore properties_;
    std::string passThrough_;
    std::string launchOnExit_;
    Attachments attachments_;
};

}  // namespace stubframework::core
