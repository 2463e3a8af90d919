// The wizard window: shows "Load.html" of the page folder with the dispatch
// object as window.external until a page closes it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "htmlui/MSHTMLExternal.h"

namespace stubframework::debug {
class InstallerLog;
}

namespace stubframework::htmlui {

// `methods`: the script-callable names with the invocation flags a typed
// script engine passes for each. What the window meets worth a line goes to
// `log`. False when no window could be shown (logged).
bool RunHostWindow(const std::string& folder, MSHTMLExternal& dispatch,
                   const std::vector<std::pair<std::string, unsigned>>& methods,
                   const std::string& backend, debug::InstallerLog* log);

}  // namespace stubframework::htmlui
