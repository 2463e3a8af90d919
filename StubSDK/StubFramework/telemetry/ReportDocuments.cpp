#include "telemetry/ReportDocuments.h"

#include <cstdint>
#include <vector>

#include "core/FrameworkCore.h"
#include "platform/crypto.h"
#include "platform/unicode.h"

namespace stubframework::core {
namespace {

void AddElement(std::string& document, std::string_view name, std::string_view value) {
    document.append("<").append(name).append(">");
    document.append(value);
    document.append("</").append(name).append(">");
}

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

}  // namespace stubframework::core
