#include "TrackingProperties.h"

#include <array>
#include <utility>

namespace myexternalmethods {
namespace {

// The settable values by id, with their log names (spelt as the log has them).
using Field = std::string TrackingProperties::*;
constexpr std::array<std::pair<Field, const char*>, 12> kSettable = {{
    {&TrackingProperties::channel, "install.channel"},
    {&TrackingProperties::language, "install.language"},
    {&TrackingProperties::buildNumber, "product.buildNumber"},
    {&TrackingProperties::analytics, "install.analytics"},
    {&TrackingProperties::license, "install.license"},
    {&TrackingProperties::officeBits, "office.bit"},
    {&TrackingProperties::officeVersion, "office.version"},
    {&TrackingProperties::majorVersion, "product.major-version"},
    {&TrackingProperties::downloadDuration, "install.downlad-duration"},
    {&TrackingProperties::installDuration, "install.install-duration"},
    {&TrackingProperties::dotnetUpdated, "install.dotnet-updated"},
    {&TrackingProperties::webviewUpdated, "install.webview-updated"},
}};

// The default list's keys and values, in the order events carry them.
constexpr std::array<std::pair<const char*, Field>, 20> kListed = {{
    {"|install.channel=", &TrackingProperties::channel},
    {"|product.build-number=", &TrackingProperties::buildNumber},
    {"|install.msi-filename=", &TrackingProperties::msiFileName},
    {"|install.application=", &TrackingProperties::application},
    {"|install.language=", &TrackingProperties::language},
    {"|product.language=", &TrackingProperties::language},
    {"|install.stub-version=", &TrackingProperties::stubVersion},
    {"|install.license=", &TrackingProperties::license},
    {"|install.analytics=", &TrackingProperties::analytics},
    {"|device.bits=", &TrackingProperties::deviceBits},
    {"|device.os=", &TrackingProperties::deviceOs},
    {"|device.os-version=", &TrackingProperties::deviceOsVersion},
    {"|device.lang=", &TrackingProperties::deviceLang},
    {"|office.bits=", &TrackingProperties::officeBits},
    {"|office.version=", &TrackingProperties::officeVersion},
    {"|product.major-version=", &TrackingProperties::majorVersion},
    {"|install.download-duration=", &TrackingProperties::downloadDuration},
    {"|install.install-duration=", &TrackingProperties::installDuration},
    {"|install.dotnet-updated=", &TrackingProperties::dotnetUpdated},
    {"|install.webview-updated=", &TrackingProperties::webviewUpdated},
}};

}  // namespace

const char* SetTrackingProperty(TrackingProperties& properties, std::uint32_t id,
                                const std::string& value) {
    if (id >= kSettable.size()) {
        return nullptr;
    }
    properties.*kSettable[id].first = value;
    return kSettable[id].second;
}

std::string DefaultPropertyList(const TrackingProperties& properties) {
    std::string list;
    for (const auto& [key, field] : kListed) {
        const std::string& value = properties.*field;
        if (!value.empty()) {
            list.append(key).append(value);
        }
    }
    return list;
}

std::string EventPropertyText(const std::string& pageText, const TrackingProperties& properties) {
    const std::string list = DefaultPropertyList(properties);
    if (!pageText.empty()) {
        return pageText + list;
    }
    return list.empty() ? list : list.substr(1);
}

}  // namespace myexternalmethods
