#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/msi.h"
#include "platform/posix/DesktopUser.h"
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

// The home and configuration folders of whoever sits at the desktop: under
// sudo or pkexec our environment is root's, not theirs.
void DesktopHome(std::string& home, std::string& configHome) {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    if (posix::DesktopUser(uid, gid, name, home)) {
        configHome = home + "/.config";
        return;
    }
    home = process::EnvironmentVariable("HOME");
    configHome = process::EnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.empty() && !home.empty()) {
        configHome = home + "/.config";
    }
}

// XDG_DESKTOP_DIR of a user-dirs.dirs file: "$HOME/..." or an absolute path.
std::string UserDirsDesktop(const std::string& listPath, const std::string& home) {
    std::ifstream list(listPath);
    std::string line;
    constexpr std::string_view kKey = "XDG_DESKTOP_DIR=";
    while (std::getline(list, line)) {
        if (line.rfind(kKey, 0) != 0) {
            continue;
        }
        std::string value = line.substr(kKey.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        if (value.rfind("$HOME", 0) == 0) {
            value.replace(0, 5, home);
        }
        return !value.empty() && value.front() == '/' ? value : std::string();
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
    if (machine.rfind("arm", 0) == 0) {
        return kProcessorArchitectureArm;
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

std::string FullVersionText() {
    utsname name{};
    if (uname(&name) != 0) {
        return {};
    }
    // "6.8.0-45-generic" gives "6.8.0": up to three numbers joined by dots.
    const std::string release = name.release;
    const auto digitsEnd = [&release](std::size_t from) {
        const std::size_t end = release.find_first_not_of("0123456789", from);
        return end == std::string::npos ? release.size() : end;
    };
    std::size_t end = digitsEnd(0);
    for (int more = 0; more < 2; ++more) {
        if (end + 1 >= release.size() || release[end] != '.' ||
            !std::isdigit(static_cast<unsigned char>(release[end + 1]))) {
            break;
        }
        end = digitsEnd(end + 1);
    }
    return release.substr(0, end);
}

std::string VersionText() {
    utsname name{};
    if (uname(&name) != 0) {
        return {};
    }
    // "6.8.0-45-generic" gives "6.8".
    std::string release = name.release;
    const std::size_t major = release.find('.');
    if (major == std::string::npos) {
        return release;
    }
    const std::size_t minor = release.find_first_not_of("0123456789", major + 1);
    return release.substr(0, minor);
}

std::string DesktopFolder() {
    std::string home;
    std::string configHome;
    DesktopHome(home, configHome);
    std::string folder =
        configHome.empty() ? std::string() : UserDirsDesktop(configHome + "/user-dirs.dirs", home);
    if (folder.empty() && !home.empty()) {
        folder = home + "/Desktop";
    }
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

std::string CommonAppDataFolder() {
    return msi::InstallRoot() + "/ProgramData";
}

std::string SystemFolder() {
    return msi::InstallRoot() + "/Windows/System32";
}

namespace {

// The first value of `key` in /proc/cpuinfo, empty when there is none.
std::string CpuInfoValue(const std::string& key) {
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string name = line.substr(0, colon);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) {
            name.pop_back();
        }
        if (name == key) {
            const std::size_t value = line.find_first_not_of(' ', colon + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
    }
    return {};
}

std::uint32_t MaxClockMhz() {
    std::ifstream limit("/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq");
    unsigned long kilohertz = 0;
    if (limit >> kilohertz && kilohertz > 0) {
        return static_cast<std::uint32_t>(kilohertz / 1000);
    }
    const std::string mhz = CpuInfoValue("cpu MHz");
    return mhz.empty() ? 0
                       : static_cast<std::uint32_t>(std::lround(std::strtod(mhz.c_str(), nullptr)));
}

}  // namespace

MachineFacts ReadMachineFacts() {
    MachineFacts facts;
    facts.operatingSystem = "Linux";
    const std::uint16_t architecture = NativeProcessorArchitecture();
    facts.is64Bit = architecture == kProcessorArchitectureAmd64 ||
                    architecture == kProcessorArchitectureArm64 ||
                    architecture == kProcessorArchitectureIa64;
    facts.osVersion = VersionText();
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    facts.processorCount = processors > 0 ? static_cast<std::uint32_t>(processors) : 0;
    facts.maxClockMhz = MaxClockMhz();
    // The processor's own maker, not a guess from the architecture.
    const std::string vendor = CpuInfoValue("vendor_id");
    facts.processorVendor = vendor == "GenuineIntel"   ? "Intel"
                            : vendor == "AuthenticAMD" ? "AMD"
                                                       : "Unknown";
    struct sysinfo memory {};
    if (sysinfo(&memory) == 0) {
        facts.memoryBytes = static_cast<std::uint64_t>(memory.totalram) * memory.mem_unit;
    }
    return facts;
}

}  // namespace stubframework::platform::system
