// The wizard window: shows "Load.html" of the page folder with the dispatch
// object as window.external until a page closes it.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "htmlui/MSHTMLExternal.h"

namespace stubframework::htmlui {

// `methods`: the script-callable names with the invocation flags a typed
// script engine passes for each. False when no window could be shown; the
// run then goes on without pages.
bool RunHostWindow(const std::string& folder, MSHTMLExternal& dispatch,
                   const std::vector<std::pair<std::string, unsigned>>& methods,
                   const std::string& backend);

}  // namespace stubframework::htmlui
