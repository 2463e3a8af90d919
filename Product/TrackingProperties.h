// The values the product's analytics events carry: twelve the pages set by
// number, the rest filled at start-up; and the property text of an event.
#pragma once

#include <cstdint>
#include <string>

namespace myexternalmethods {

struct TrackingProperties {
    // Set by the pages (setTrackingProperty), ids 0 to 11 in this order.
    std::string channel;
    std::string language;  // also sent as the product's language
    std::string buildNumber;
    std::string analytics;
    std::string license;
    std::string officeBits;
    std::string officeVersion;
    std::string majorVersion;
    std::string downloadDuration;
    std::string installDuration;
    std::string dotnetUpdated;
    std::string webviewUpdated;
    // Filled at start-up.
    std::string msiFileName;
    std::string application;
    std::string stubVersion;
    std::string deviceBits;
    std::string deviceOs;
    std::string deviceOsVersion;
    std::string deviceLang;
};

// Stores `value` under the pages' id; the name the log gives it
// ("install.channel", ...), or null for an id that names nothing.
const char* SetTrackingProperty(TrackingProperties& properties, std::uint32_t id,
                                const std::string& value);

// "|key=value" for every value that is not empty, in the fixed order.
std::string DefaultPropertyList(const TrackingProperties& properties);

// What an event carries: the page's text followed by the default list, or
// the default list without its leading "|" when the page gave none.
std::string EventPropertyText(const std::string& pageText, const TrackingProperties& properties);

}  // namespace myexternalmethods
