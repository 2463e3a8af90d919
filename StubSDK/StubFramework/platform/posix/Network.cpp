#include "platform/posix/Network.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/process.h"
#include "platform/system.h"

namespace stubframework::platform::posix {
namespace {

constexpr unsigned long kRouteUp = 0x1;  // RTF_UP

std::vector<std::string> Fields(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> fields;
    for (std::string field; stream >> field;) {
        fields.push_back(field);
    }
    return fields;
}

bool IsUp(const std::string& hexFlags) {
    return (std::strtoul(hexFlags.c_str(), nullptr, 16) & kRouteUp) != 0;
}

// Iface Destination Gateway Flags RefCnt Use Metric Mask ...; a header first.
bool HasIpv4Default(std::string_view table, const std::function<bool(const std::string&)>& usable) {
    std::istringstream lines{std::string(table)};
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = Fields(line);
        if (f.size() >= 8 && f[1] == "00000000" && f[7] == "00000000" && IsUp(f[3]) &&
            usable(f[0])) {
            return true;
        }
    }
    return false;
}

// Destination, its prefix length, source, its prefix length, next hop,
// metric, references, use, flags, interface; no header.
bool HasIpv6Default(std::string_view table, const std::function<bool(const std::string&)>& usable) {
    std::istringstream lines{std::string(table)};
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> f = Fields(line);
        if (f.size() >= 10 && f[0] == std::string(32, '0') && f[1] == "00" && IsUp(f[8]) &&
            usable(f[9])) {
            return true;
        }
    }
    return false;
}

std::string ReadAll(const char* path, bool& readable) {
    std::ifstream file(path);
    readable = file.is_open();
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Interfaces that are up and not loopback; `running` also asks for a carrier.
std::vector<std::string> LiveInterfaces(bool running) {
    std::vector<std::string> names;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return names;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const unsigned flags = entry->ifa_flags;
        if ((flags & IFF_UP) != 0 && (flags & IFF_LOOPBACK) == 0 &&
            (!running || (flags & IFF_RUNNING) != 0)) {
            names.emplace_back(entry->ifa_name);
        }
    }
    freeifaddrs(list);
    return names;
}

}  // namespace

bool HasDefaultRoute(std::string_view ipv4Table, std::string_view ipv6Table,
                     const std::function<bool(const std::string&)>& usable) {
    return HasIpv4Default(ipv4Table, usable) || HasIpv6Default(ipv6Table, usable);
}

}  // namespace stubframework::platform::posix

namespace stubframework::platform::system {

bool HasNetworkConnection() {
    // Tests and machines without routes choose the answer.
    const std::string forced = process::EnvironmentVariable("STUB_NETWORK");
    if (forced == "online" || forced == "offline") {
        return forced == "online";
    }
    bool ipv4Readable = false;
    bool ipv6Readable = false;
    const std::string ipv4 = posix::ReadAll("/proc/net/route", ipv4Readable);
    const std::string ipv6 = posix::ReadAll("/proc/net/ipv6_route", ipv6Readable);
    if (!ipv4Readable && !ipv6Readable) {
        return !posix::LiveInterfaces(true).empty();
    }
    const std::vector<std::string> live = posix::LiveInterfaces(false);
    return posix::HasDefaultRoute(ipv4, ipv6, [&live](const std::string& name) {
        return std::find(live.begin(), live.end(), name) != live.end();
    });
}

}  // namespace stubframework::platform::system
