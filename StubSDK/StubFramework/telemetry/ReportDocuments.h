// The XML documents the installer sends its web service. Elements follow one
// another with no declaration, indentation or line breaks. Values have "&",
// "<" and ">" escaped, so a page's text can neither break a document nor
// forge an element; any other value goes in byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace stubframework::core {

class FrameworkCore;

// The form of the machine identifier the service sees: 64 lower-case hex
// digits of the SHA-256 over the low byte of each UTF-16 unit; "" for "".
std::string MachineIdDigest(std::string_view identifier);

// <RegionRestrictions>: the question whether the user's region is restricted.
std::string RegionRestrictionsDocument(FrameworkCore& core);

// The report text of an install status; "" for numbers without one.
std::string_view StatusText(std::int32_t status);

// <TAVIKAnalytics>: the run's state, reported with `status`.
std::string AnalyticsDocument(FrameworkCore& core, std::int32_t status);

// What an activity report carries, copied for the thread that sends it.
struct ActivityReport {
    std::string token;
    std::string productId;
    std::string productVersion;
    std::string activity;
};
ActivityReport MakeActivityReport(FrameworkCore& core, const std::string& activity);
// <UserActivity>: a button the user pressed.
std::string UserActivityDocument(const ActivityReport& report);

}  // namespace stubframework::core
