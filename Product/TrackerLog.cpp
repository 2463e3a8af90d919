#include "TrackerLog.h"

#include <cstdio>
#include <optional>

#include "platform/clock.h"
#include "platform/fs.h"

namespace myexternalmethods {
namespace platform = stubframework::platform;

std::string TrackerLogLine(TrackerLevel level, const std::string& text) {
    const platform::SystemTime now = platform::UtcNow();
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "%4d%02d%02d %02d:%02d:%02d %3d", now.year, now.month,
                  now.day, now.hour, now.minute, now.second, now.milliseconds);
    return std::string("[") + stamp + (level == TrackerLevel::Trace ? " TRACE] " : " ERROR] ") +
           text + "\n";
}

void WriteTrackerLog(TrackerLevel level, const std::string& text) {
    const std::optional<std::string> temp = platform::fs::TempPath();
    if (!temp) {
        return;
    }
    const platform::SystemTime now = platform::UtcNow();
    char name[48];
    std::snprintf(name, sizeof name, "productanalytics_%02d%02d%4d.log", now.day, now.month,
                  now.year);
    const std::string path = *temp + name;
    if (const platform::fs::File file = platform::fs::OpenForAppend(path)) {
        const std::string line = TrackerLogLine(level, text);
        std::fwrite(line.data(), 1, line.size(), file.get());
    }
}

}  // namespace myexternalmethods
