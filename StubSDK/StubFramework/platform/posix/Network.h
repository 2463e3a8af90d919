// Whether a route table leads anywhere, read from the kernel's text tables
// (/proc/net/route and /proc/net/ipv6_route).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace stubframework::platform::posix {

// True when either table holds a default route that is up, through an
// interface `usable` accepts (up and not loopback on a live system).
bool HasDefaultRoute(std::string_view ipv4Table, std::string_view ipv6Table,
                     const std::function<bool(const std::string&)>& usable);

}  // namespace stubframework::platform::posix
