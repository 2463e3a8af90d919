// The search behind searchRegKey: which of a set of relative key paths holds
// a value, looked for depth-first below a key. The pages use it to find an
// installed program by a key it always writes (".\16.0\Word\InstallRoot"
// holding "path" below the suite's key).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace stubframework::core {

// True when `relative` is the tail of `keyPathText` (a key path ending in a
// backslash) just before that backslash, without regard to case. A relative
// path as long as the key path or longer never matches.
bool RelativePathMatches(std::string_view keyPathText, std::string_view relative);

// The ";"-separated relative paths of the pages, without the empty ones.
std::vector<std::string> SplitRelativePaths(std::string_view list);

// Searches below `keyPath` (a registry path with its root) in `view`. A key
// that holds `valueName` is compared with the relative paths and not searched
// further; another key is searched through its subkeys in enumeration order.
// The path text (below the root, ending in a backslash) of the first key that
// matches, or nothing.
std::optional<std::string> SearchRegistryKey(std::string_view keyPath,
                                             const std::vector<std::string>& relativePaths,
                                             std::string_view valueName,
                                             platform::registry::View view);

}  // namespace stubframework::core
