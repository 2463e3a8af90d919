// What the tracker sends with each event: the core data of the machine and
// product, and the trackData text the tracker page's trackEvent receives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "TrackerSettings.h"

namespace myexternalmethods {

struct TrackerCoreData {
    std::string productName;
    std::string appName;
    std::string buildNumber;
    std::string language;
    std::string licenseId;
    std::string sourceId;
    std::string licenseKey;
    std::int32_t licenseType = -1;
    std::int32_t licenseStatus = -1;
    std::string hwid;
    std::string emailaddress;
    bool pirated = false;
    std::string subscriptionid;
    // The machine's, filled when the tracker is initialised.
    std::string operatingSystem;
    std::string bitness;
    std::string osVersion;
    std::string architecture;
    std::string coreNumber;
    std::string maxClockSpeed;
    std::string manufacturerName;
    std::string memorySize;
};

std::string_view LicenseTypeText(std::int32_t type);
std::string_view LicenseStatusText(std::int32_t status);

// Empty, or "key=value" pieces joined by "|" (empty pieces do not count).
bool PropertiesPatternOk(std::string_view properties);

// The JSON text of one event. Values are escaped, so a quotation mark, a
// backslash (a Windows path) or a line break cannot spoil it.
std::string TrackDataText(const TrackerSettings& settings, const TrackerCoreData& core,
                          std::string_view event, std::string_view properties);

// The core data as the tracker log shows it.
std::string CoreDataLogText(const TrackerSettings& settings, const TrackerCoreData& core);

}  // namespace myexternalmethods
