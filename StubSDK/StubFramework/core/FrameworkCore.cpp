#include "core/FrameworkCore.h"

#include <cstdlib>
#include <vector>

#include "core/CommandLine.h"
#include "core/LanguageTable.h"
#include "core/MachineIdentity.h"
#include "core/RegistryText.h"
#include "platform/com.h"
#include "platform/commandline.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace stubframework::core {
namespace {

namespace reg = platform::registry;
namespace sys = platform::system;

// Placeholders, kept when the machine identity cannot be computed.
constexpr const char* kRequestTokenMask = "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";
constexpr const char* kMachineIdentifierMask = "X-XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX";

// wcstol in base 10: leading digits only, none gives 0.
std::int32_t DecimalValue(const std::string& text) {
    return static_cast<std::int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

std::string StartMenuInternet(reg::Root root) {
    reg::Key key;
    if (reg::OpenKey(root, "Software\\Clients\\StartMenuInternet", reg::View::Default,
                     reg::Access::Read, key) != platform::kErrorSuccess) {
        return {};
    }
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (reg::QueryValue(key, "", type, data) != platform::kErrorSuccess) {
        return {};
    }
    return reg::DataText(data);
}

std::string ReadDefaultBrowser() {
    for (const reg::Root root : {reg::Root::CurrentUser, reg::Root::LocalMachine}) {
        std::string name = StartMenuInternet(root);
        if (!name.empty()) {
            return name;
        }
    }
    std::string desktop = sys::DefaultBrowserName();
    return desktop.empty() ? "Other" : desktop;
}

std::string ReadOsName() {
    const std::optional<sys::WindowsVersion> version = sys::OsVersion();
    if (!version) {
        return OsNameFromVersion(false, 0, 0, 0, 0);
    }
    return OsNameFromVersion(true, version->major, version->minor, version->productType,
                             sys::NativeProcessorArchitecture());
}

}  // namespace

std::string MajorVersion(const std::string& version) {
    return version.substr(0, version.find('.'));
}

std::string StubRegistryKey(const std::string& productId, const std::string& version) {
    return std::string(kStubRegistryRoot) + "\\" + productId + "\\" + MajorVersion(version);
}

std::string OsNameFromVersion(bool known, std::uint32_t major, std::uint32_t minor,
                              std::uint8_t productType, std::uint16_t architecture) {
    constexpr std::uint8_t kWorkstation = 1;
    if (!known) {
        return "Other";
    }
    if (major == 5 && minor == 1) {
        return "Windows XP";
    }
    if (major == 5 && minor == 2) {
        return productType == kWorkstation && architecture == sys::kProcessorArchitectureAmd64
                   ? "Windows XP"
                   : "Other";
    }
    if (productType != kWorkstation) {
        return "Other";
    }
    if (major == 6) {
        switch (minor) {
            case 0:
                return "Windows Vista";
            case 1:
                return "Windows 7";
            case 2:
            case 3:
                return "Windows 8";
            case 4:
                return "Windows 10";
            default:
                return "Other";
        }
    }
    return major == 10 ? "Windows 10" : "Other";
}

FrameworkCore::FrameworkCore(const ProductValues& product)
    : registryBase_(StubRegistryKey(product.productId, product.version)),
      requestToken_(kRequestTokenMask),
      country_(std::to_string(sys::UserGeoId())),
      productId_(product.productId),
      productVersion_(product.version),
      channel_(product.channel),
      installLanguage_(std::string(LanguageTable()[kLanguageEnglish].name)),
      status_(4),
      osName_(ReadOsName()),
      uiLanguageIndex_(LanguageNumberFromId(sys::UserDefaultUILanguage())),
      defaultBrowser_(ReadDefaultBrowser()),
      machineIdentifier_(kMachineIdentifierMask),
      passThrough_(PassThroughText(platform::RawCommandLine())) {
    const std::uint16_t architecture = sys::NativeProcessorArchitecture();
    architecture_ = architecture == sys::kProcessorArchitectureAmd64 ||
                            architecture == sys::kProcessorArchitectureIa64
                        ? "x64"
                        : "x86";
    // No other thread exists yet, so these two writes need no lock.
    SetLanguage(kLanguageEnglish);
    properties_.Set("osbits", architecture_ == "x64" ? "64" : "32");
    MakeRequestToken(requestToken_);
    // The machine queries go through COM on Windows.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ComputeMachineIdentifier(machineIdentifier_);
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}

bool FrameworkCore::ReadFallback(const char* name, std::string& field) const {
    std::string text;
    if (!ReadRegistryText(registryBase_, name, text)) {
        return false;
    }
    field = std::move(text);
    return true;
}

const std::string& FrameworkCore::ProductId() {
    if (productId_.empty()) {
        ReadFallback("product_id", productId_);
    }
    return productId_;
}

const std::string& FrameworkCore::ProductVersion() {
    if (productVersion_.empty()) {
        ReadFallback("production_version", productVersion_);
    }
    return productVersion_;
}

const std::string& FrameworkCore::Channel() {
    if (channel_.empty()) {
        ReadFallback("channel", channel_);
    }
    return channel_;
}

std::int32_t FrameworkCore::Status() {
    std::string text;
    if (status_ == kUnset && ReadRegistryText(registryBase_, "status", text)) {
        status_ = DecimalValue(text);
    }
    return status_;
}

void FrameworkCore::SetStatus(std::int32_t status) {
    status_ = status;
    WriteRegistryText(registryBase_, "status", std::to_string(status));
}

void FrameworkCore::SetChannel(const std::string& channel) {
    channel_ = channel;
    WriteRegistryText(registryBase_, "channel", channel);
}

void FrameworkCore::SetLanguage(int languageNumber) {
    if (languageNumber < 0 || languageNumber >= kLanguageCount) {
        return;
    }
    const Language& language = LanguageTable()[static_cast<std::size_t>(languageNumber)];
    properties_.Set("lang", std::string(language.code));
    installLanguage_ = std::string(language.name);
    WriteRegistryText(registryBase_, "install_language", installLanguage_);
}

}  // namespace stubframework::core
