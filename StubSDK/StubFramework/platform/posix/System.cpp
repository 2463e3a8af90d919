#include <sys/utsname.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/Locale.h"
#include "platform/process.h"
#include "platform/system.h"

namespace stubframework::platform::system {
namespace {

// The locale that names the language of messages, the way setlocale reads it.
std::string MessagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string value = process::EnvironmentVariable(name);
        if (!value.empty()) {
            return value;
        }
    }
    return "C";
}

std::string TerritoryLocale() {
    for (const char* name : {"LC_ALL", "LC_ADDRESS", "LC_TELEPHONE", "LC_MESSAGES", "LANG"}) {
        std::string value = process::EnvironmentVariable(name);
        if (!value.empty()) {
            return value;
        }
    }
    return "C";
}

std::vector<std::string> MimeAppsLists() {
    const std::string home = process::EnvironmentVariable("HOME");
    std::string configHome = process::EnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.empty() && !home.empty()) {
        configHome = home + "/.config";
    }
    std::string dataHome = process::EnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.empty() && !home.empty()) {
        dataHome = home + "/.local/share";
    }
    std::vector<std::string> lists;
    if (!configHome.empty()) {
        lists.push_back(configHome + "/mimeapps.list");
    }
    lists.push_back("/etc/xdg/mimeapps.list");
    if (!dataHome.empty()) {
        lists.push_back(dataHome + "/applications/mimeapps.list");
    }
    lists.push_back("/usr/local/share/applications/mimeapps.list");
    lists.push_back("/usr/share/applications/mimeapps.list");
    return lists;
}

// The handler of http links in the [Default Applications] group of a
// mimeapps.list file, without its ".desktop" suffix.
std::string HttpHandler(const std::string& listPath) {
    std::ifstream list(listPath);
    std::string line;
    bool inDefaults = false;
    while (std::getline(list, line)) {
        if (!line.empty() && line.front() == '[') {
            inDefaults = line.rfind("[Default Applications]", 0) == 0;
            continue;
        }
        constexpr std::string_view kKey = "x-scheme-handler/http=";
        if (!inDefaults || line.rfind(kKey, 0) != 0) {
            continue;
        }
        std::string handler = line.substr(kKey.size());
        handler = handler.substr(0, handler.find(';'));
        constexpr std::string_view kSuffix = ".desktop";
        if (handler.size() > kSuffix.size() && handler.ends_with(kSuffix)) {
            handler.resize(handler.size() - kSuffix.size());
        }
        if (!handler.empty()) {
            return handler;
        }
    }
    return {};
}

}  // namespace

std::uint16_t NativeProcessorArchitecture() {
    utsname name{};
    if (uname(&name) != 0) {
        return kProcessorArchitectureUnknown;
    }
    const std::string machine = name.machine;
    if (machine == "x86_64") {
        return kProcessorArchitectureAmd64;
    }
    if (machine == "aarch64" || machine == "arm64") {
        return kProcessorArchitectureArm64;
    }
    if (machine.size() == 4 && machine[0] == 'i' && machine.substr(2) == "86") {
        return kProcessorArchitectureIntel;
    }
    if (machine == "ia64") {
        return kProcessorArchitectureIa64;
    }
    return kProcessorArchitectureUnknown;
}

std::uint16_t UserDefaultUILanguage() {
    return posix::LanguageIdFromLocale(MessagesLocale());
}

std::int32_t UserGeoId() {
    return posix::GeoIdFromLocale(TerritoryLocale());
}

std::string DefaultBrowserName() {
    for (const std::string& list : MimeAppsLists()) {
        std::string handler = HttpHandler(list);
        if (!handler.empty()) {
            return handler;
        }
    }
    // $BROWSER is the older convention: a command, possibly a list of them.
    std::string browser = process::EnvironmentVariable("BROWSER");
    browser = browser.substr(0, browser.find(':'));
    const std::size_t slash = browser.rfind('/');
    return slash == std::string::npos ? browser : browser.substr(slash + 1);
}

std::optional<WindowsVersion> OsVersion() {
    return std::nullopt;
}

}  // namespace stubframework::platform::system
