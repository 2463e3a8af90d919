// Registry paths as text: a root name, a backslash and the subkey path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace stubframework::core {

struct RegistryPath {
    platform::registry::Root root;
    std::string subKey;
};

// Accepts the long and short root names ("HKEY_LOCAL_MACHINE" or "HKLM", ...)
// in any letter case. Nothing when the root name is unknown. A text without a
// backslash names the root and is also taken as the subkey, as the pages
// have always seen it.
std::optional<RegistryPath> ParseRegistryPath(std::string_view path);

std::optional<platform::registry::Root> ParseRootName(std::string_view name);

}  // namespace stubframework::core
