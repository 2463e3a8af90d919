// The script every served page gets before its own: window.external as a
// Proxy that turns calls, property access and callbacks into requests to
// the loopback bridge.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace stubframework::platform::posix {

// `methods`: the script-callable names with the invocation flags a typed
// script engine passes for each.
std::string BridgeScript(const std::string& token, unsigned session,
                         const std::vector<std::pair<std::string, unsigned>>& methods);

}  // namespace stubframework::platform::posix
