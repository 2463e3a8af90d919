#include "TrackData.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace myexternalmethods {
namespace {

// Non-empty pieces of `text` between `separator`s.
std::vector<std::string_view> Pieces(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    while (!text.empty()) {
        const std::size_t end = text.find(separator);
        if (end != 0) {
            pieces.push_back(text.substr(0, end));
        }
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return pieces;
}

std::string JsonEscaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '"':
                escaped += "\\\"";
                break;
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\t':
                escaped += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char code[8];
                    std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
                    escaped += code;
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

void AddText(std::string& text, std::string_view name, std::string_view value) {
    text.append("\"").append(name).append("\":\"").append(JsonEscaped(value)).append("\",\n");
}

void AddIfSet(std::string& text, std::string_view name, std::string_view value) {
    if (!value.empty()) {
        AddText(text, name, value);
    }
}

const char* Flag(bool value) {
    return value ? "true" : "false";
}

}  // namespace

std::string_view LicenseTypeText(std::int32_t type) {
    switch (type) {
        case 0:
            return "LICENSE_TYPE_CORPORATE";
        case 1:
            return "LICENSE_TYPE_RETAIL";
        case 2:
            return "LICENSE_TYPE_EDUCATION";
        case 3:
            return "LICENSE_TYPE_UPGRADE";
        case 4:
            return "LICENSE_TYPE_NFR";
        case 5:
            return "LICENSE_TYPE_OEM";
        case 8:
            return "LICENSE_TYPE_TBYB";
        case 15:
            return "LICENSE_TYPE_SUBSCRIPTION";
        default:
            return "LICENSE_TYPE_UNKNOWN";
    }
}

std::string_view LicenseStatusText(std::int32_t status) {
    switch (status) {
        case 0:
            return "LICENSE_STATUS_EXPIRED";
        case 1:
            return "LICENSE_STATUS_ACTIVE";
        default:
            return "LICENSE_STATUS_UNKNOWN";
    }
}

bool PropertiesPatternOk(std::string_view properties) {
    for (const std::string_view piece : Pieces(properties, '|')) {
        if (Pieces(piece, '=').size() != 2) {
            return false;
        }
    }
    return true;
}

std::string TrackDataText(const TrackerSettings& settings, const TrackerCoreData& core,
                          std::string_view event, std::string_view properties) {
    std::string text = "{\n";
    AddText(text, "productId", settings.productId);
    AddText(text, "eventName", event);
    text.append("\"alertingEnabled\":").append(Flag(settings.alertingEnabled)).append(",\n");
    text.append("\"loggingEnabled\":").append(Flag(settings.loggingEnabled)).append(",\n");
    AddText(text, "trackingEnvironment", settings.trackingEnvironment);
    text += "\"coreData\": {\n";
    AddIfSet(text, "productName", core.productName);
    AddIfSet(text, "appName", core.appName);
    AddIfSet(text, "buildNumber", core.buildNumber);
    AddIfSet(text, "language", core.language);
    AddIfSet(text, "licenseId", core.licenseId);
    AddIfSet(text, "sourceId", core.sourceId);
    AddIfSet(text, "licenseKey", core.licenseKey);
    AddText(text, "licenseType", LicenseTypeText(core.licenseType));
    AddText(text, "licenseStatus", LicenseStatusText(core.licenseStatus));
    AddIfSet(text, "operatingSystem", core.operatingSystem);
    AddIfSet(text, "bitness", core.bitness);
    AddIfSet(text, "osVersion", core.osVersion);
    AddIfSet(text, "hwid", core.hwid);
    AddIfSet(text, "emailaddress", core.emailaddress);
    AddIfSet(text, "subscriptionid", core.subscriptionid);
    AddIfSet(text, "architecture", core.architecture);
    AddIfSet(text, "coreNumber", core.coreNumber);
    AddIfSet(text, "maxClockSpeed", core.maxClockSpeed);
    AddIfSet(text, "manufacturerName", core.manufacturerName);
    AddIfSet(text, "memorySize", core.memorySize);
    text.append("\"pirated\":").append(Flag(core.pirated)).append("\n},\n");
    text += "\"eventData\": {\n";
    const char* separator = "";
    for (const std::string_view piece : Pieces(properties, '|')) {
        const std::vector<std::string_view> parts = Pieces(piece, '=');
        if (parts.size() != 2) {
            continue;  // refused before it gets here
        }
        text.append(separator).append("\"").append(JsonEscaped(parts[0])).append("\":\"");
        text.append(JsonEscaped(parts[1])).append("\"");
        separator = ",\n";
    }
    text += "}\n}\n";
    return text;
}

std::string CoreDataLogText(const TrackerSettings& settings, const TrackerCoreData& core) {
    std::string text = "productId=" + settings.productId;
    const std::pair<const char*, std::string_view> fields[] = {
        {"productName", core.productName},
        {"appName", core.appName},
        {"buildNumber", core.buildNumber},
        {"language", core.language},
        {"licenseId", core.licenseId},
        {"sourceId", core.sourceId},
        {"licenseKey", core.licenseKey},
        {"licenseType", LicenseTypeText(core.licenseType)},
        {"licenseStatus", LicenseStatusText(core.licenseStatus)},
        {"operatingSystem", core.operatingSystem},
        {"bitness", core.bitness},
        {"osVersion", core.osVersion},
        {"hwid", core.hwid},
        {"emailaddress", core.emailaddress},
        {"subscriptionid", core.subscriptionid},
    };
    for (const auto& [name, value] : fields) {
        text.append("|").append(name).append("=").append(value);
    }
    text.append("|pirated=").append(Flag(core.pirated));
    text.append("|alertingEnabled=").append(Flag(settings.alertingEnabled));
    text.append("|loggingEnabled=").append(Flag(settings.loggingEnabled));
    text.append("|trackingEnvironment=").append(settings.trackingEnvironment);
    return text;
}

}  // namespace myexternalmethods
