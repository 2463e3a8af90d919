// The tracker's settings and the file that changes them,
// "productanalytics.ini": lines of key=value, each setting taken from the
// first line whose key contains its name.
#pragma once

#include <string>
#include <string_view>

namespace myexternalmethods {

inline constexpr const char* kTrackerConfigName = "productanalytics.ini";
inline constexpr std::size_t kMaxTrackerConfigBytes = 4095;

struct TrackerSettings {
    // Empty until the tracker is initialised, and again once it is released.
    std::string productId;
    bool loggingEnabled = false;
    bool alertingEnabled = false;
    std::string trackingEnvironment = "production";
    std::string containerUrl =
        "https://tracker.brindlemark.invalid/static/ipm/product-analytics/index.html";
};

// Applies the file's text to `settings`.
void ApplyTrackerConfig(std::string_view text, TrackerSettings& settings);

// The file beside the program when one can be read there, else the one in
// the common application data folder.
std::string TrackerConfigPath();

// Reads at most kMaxTrackerConfigBytes of the file; empty when there is none.
std::string ReadTrackerConfig(const std::string& path);

}  // namespace myexternalmethods
