#include "TrackerSettings.h"

#include <cctype>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/system.h"

namespace myexternalmethods {
namespace {

namespace fs = stubframework::platform::fs;

struct ConfigLine {
    std::string key;
    std::string value;
    bool used = false;
};

// Lines split at line feeds only: a carriage return stays in the value.
std::vector<ConfigLine> ParseLines(std::string_view text) {
    std::vector<ConfigLine> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::size_t equals = line.find('=');
        if (line.size() < 3 || line.front() == '#' || equals == std::string_view::npos ||
            equals == 0 || equals + 1 == line.size()) {
            continue;
        }
        lines.push_back(
            {std::string(line.substr(0, equals)), std::string(line.substr(equals + 1))});
    }
    return lines;
}

// The value of the first unused line whose key contains `name`, using it up.
bool TakeSetting(std::vector<ConfigLine>& lines, std::string_view name, std::string& value) {
    for (ConfigLine& line : lines) {
        if (!line.used && line.key.find(name) != std::string::npos) {
            line.used = true;
            value = line.value;
            return true;
        }
    }
    return false;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace

void ApplyTrackerConfig(std::string_view text, TrackerSettings& settings) {
    std::vector<ConfigLine> lines = ParseLines(text);
    std::string value;
    if (TakeSetting(lines, "LOGGING_ENABLED", value)) {
        settings.loggingEnabled = Lower(value) == "true";
    }
    if (TakeSetting(lines, "ALERTING_ENABLED", value)) {
        settings.alertingEnabled = Lower(value) == "true";
    }
    if (TakeSetting(lines, "TRACKING_ENVIRONMENT", value)) {
        settings.trackingEnvironment = Lower(value);
    }
    if (TakeSetting(lines, "ONLINE_CONTAINER", value)) {
        settings.containerUrl = value;
    }
}

std::string TrackerConfigPath() {
    namespace process = stubframework::platform::process;
    const std::string program = process::ExecutablePath();
    const std::size_t slash = program.rfind(fs::kPathSeparator);
    std::string beside = program.substr(0, slash + 1) + kTrackerConfigName;
    fs::FileHandle file;
    if (file.Open(beside) == stubframework::platform::kErrorSuccess) {
        return beside;
    }
    return stubframework::platform::system::CommonAppDataFolder() + fs::kPathSeparator + "Zelvo" +
           fs::kPathSeparator + "ProductAnalytics" + fs::kPathSeparator + kTrackerConfigName;
}

std::string ReadTrackerConfig(const std::string& path) {
    fs::FileHandle file;
    if (file.Open(path) != stubframework::platform::kErrorSuccess) {
        return {};
    }
    std::string text(kMaxTrackerConfigBytes, '\0');
    std::size_t done = 0;
    while (done < text.size()) {
        const std::int64_t got = file.Read(text.data() + done, text.size() - done);
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    text.resize(done);
    return text;
}

}  // namespace myexternalmethods
