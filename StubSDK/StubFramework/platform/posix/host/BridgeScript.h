// The script every served page gets before its own: window.external as a
// Proxy that turns calls, property access and callbacks into requests to
// the loopback bridge.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace stubframework::platform::posix {

// `methods`: the script-callable names with the invocation flags a typed
// script engine passes for each. With `quietDialogs` the script makes
// alert, confirm and prompt return at once (false and null), for engines
// whose own dialogs the host cannot swallow.
std::string BridgeScript(const std::string& token, unsigned session,
                         const std::vector<std::pair<std::string, unsigned>>& methods,
                         bool quietDialogs);

}  // namespace stubframework::platform::posix
