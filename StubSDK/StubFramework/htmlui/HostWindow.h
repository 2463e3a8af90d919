// The wizard window: shows "Load.html" of the page folder with the dispatch
// object as window.external until a page closes it.
#pragma once

#include <string>

namespace stubframework::core {
class HtmlExternal;
}

namespace stubframework::htmlui {

// False when no window could be shown; the run then goes on without pages.
bool RunHostWindow(const std::string& folder, core::HtmlExternal& dispatch,
                   const std::string& backend);

}  // namespace stubframework::htmlui
