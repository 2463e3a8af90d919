// The script every served document gets first: window.external as a Proxy
// that turns calls, property access and callbacks into requests to the
// installer.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace stubframework::platform::posix {

struct BridgeScriptConfig {
    std::string base;  // where the bridge's requests go ("<base>invoke", "<base>events")
    unsigned session = 0;
    // The script-callable names with the invocation flags a typed script
    // engine passes for each.
    std::vector<std::pair<std::string, unsigned>> methods;
    // The script answers alert, confirm and prompt at once (false and null),
    // for engines whose own dialogs the host cannot swallow.
    bool quietDialogs = false;
    // Callbacks arrive as server-sent events at "<base>events"; otherwise
    // the host calls the page's delivery function itself.
    bool eventStream = true;
};

std::string BridgeScript(const BridgeScriptConfig& config);

// The name of the function through which a host without an event stream
// hands the page its callback events (a JSON array text).
inline constexpr const char* kDeliverFunction = "__stubBridgeDeliver";

}  // namespace stubframework::platform::posix
