#include "telemetry/ReportDocuments.h"

#include <cstdint>
#include <vector>

#include "core/FrameworkCore.h"
#include "core/LanguageTable.h"
#include "platform/crypto.h"
#include "platform/unicode.h"

namespace stubframework::core {
namespace {

void AddElement(std::string& document, std::string_view name, std::string_view value) {
    document.append("<").append(name).append(">");
    for (const char c : value) {
        switch (c) {
            case '&':
                document += "&amp;";
                break;
            case '<':
                document += "&lt;";
                break;
            case '>':
                document += "&gt;";
                break;
            default:
                document += c;
        }
    }
    document.append("</").append(name).append(">");
}

struct StatusName {
    std::int32_t status;
    std::string_view text;
};

constexpr StatusName kStatusNames[] = {
    {0, "started"},
    {1, "completed"},
    {2, "error occurred"},
    {3, "canceled"},
    {4, "environment not supported"},
    {5, "downloaded"},
    {6, "stub failed"},
    {71, "modify completed"},
    {72, "modify error occurred"},
    {73, "modify canceled"},
    {81, "repair completed"},
    {82, "repair error occurred"},
    {83, "repair canceled"},
    {91, "remove completed"},
    {92, "remove error occurred"},
    {93, "remove canceled"},
};

}  // namespace

std::string MachineIdDigest(std::string_view identifier) {
    if (identifier.empty()) {
        return {};
    }
    const std::u16string units = platform::Utf8ToUtf16(identifier);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(units.size());
    for (const char16_t unit : units) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    }
    platform::crypto::Sha256Digest digest{};
    if (!platform::crypto::Sha256(bytes.data(), bytes.size(), digest)) {
        return {};
    }
    constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : digest) {
        text.push_back(kHex[byte >> 4]);
        text.push_back(kHex[byte & 0x0F]);
    }
    return text;
}

std::string RegionRestrictionsDocument(FrameworkCore& core) {
    std::string document = "<RegionRestrictions>";
    AddElement(document, "token", core.RequestToken());
    AddElement(document, "productId", core.ProductId());
    AddElement(document, "productVersion", core.ProductVersion());
    AddElement(document, "channel", core.Channel());
    AddElement(document, "os", core.OsName());
    AddElement(document, "machineId", MachineIdDigest(core.MachineIdentifier()));
    document += "</RegionRestrictions>";
    return document;
}

std::string_view StatusText(std::int32_t status) {
    for (const StatusName& name : kStatusNames) {
        if (name.status == status) {
            return name.text;
        }
    }
    return {};
}

std::string AnalyticsDocument(FrameworkCore& core, std::int32_t status) {
    std::string document = "<TAVIKAnalytics>";
    AddElement(document, "requestToken", core.RequestToken());
    AddElement(document, "country", core.Country());
    document += "<mainApp>";
    AddElement(document, "productId", core.ProductId());
    AddElement(document, "productVersion", core.ProductVersion());
    AddElement(document, "channelId", core.Channel());
    AddElement(document, "installLanguage", core.InstallLanguage());
    AddElement(document, "status", StatusText(status));
    AddElement(document, "serialKey", "");  // this product has none
    // A map, so in ascending name order; no element at all when empty.
    if (!core.ExternalProperties().empty()) {
        document += "<externalProperties>";
        for (const auto& [name, value] : core.ExternalProperties()) {
            document += "<property>";
            AddElement(document, "name", name);
            AddElement(document, "value", value);
            document += "</property>";
        }
        document += "</externalProperties>";
    }
    document += "</mainApp>";
    AddElement(document, "error", "");
    document += "<userEnvironment>";
    AddElement(document, "OS", core.OsName());
    AddElement(document, "language", LanguageTable()[core.UiLanguageIndex()].name);
    AddElement(document, "architecture", core.Architecture());
    AddElement(document, "defaultBrowser", core.DefaultBrowser());
    document += "</userEnvironment>";
    AddElement(document, "TAVIKVersion", core.ReportVersion());
    AddElement(document, "machineId", MachineIdDigest(core.MachineIdentifier()));
    document += "</TAVIKAnalytics>";
    return document;
}

ActivityReport MakeActivityReport(FrameworkCore& core, const std::string& activity) {
    return {core.RequestToken(), core.ProductId(), core.ProductVersion(), activity};
}

std::string UserActivityDocument(const ActivityReport& report) {
    std::string document = "<UserActivity>";
    AddElement(document, "token", report.token);
    AddElement(document, "productId", report.productId);
    AddElement(document, "productVersion", report.productVersion);
    AddElement(document, "activity", report.activity);
    document += "</UserActivity>";
    return document;
}

}  // namespace stubframework::core
