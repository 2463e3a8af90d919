#include "core/RegistryPath.h"

#include <array>
#include <utility>

#include "platform/unicode.h"

namespace stubframework::core {

using platform::registry::Root;

std::optional<Root> ParseRootName(std::string_view name) {
    static constexpr std::array<std::pair<std::string_view, Root>, 12> kRoots{{
        {"HKEY_LOCAL_MACHINE", Root::LocalMachine},
        {"HKLM", Root::LocalMachine},
        {"HKEY_CURRENT_USER", Root::CurrentUser},
        {"HKCU", Root::CurrentUser},
        {"HKEY_CURRENT_CONFIG", Root::CurrentConfig},
        {"HKCC", Root::CurrentConfig},
        {"HKEY_USERS", Root::Users},
        {"HKU", Root::Users},
        {"HKEY_CLASSES_ROOT", Root::ClassesRoot},
        {"HKCR", Root::ClassesRoot},
        {"HKEY_DTN_DATA", Root::DynData},
        {"HKDD", Root::DynData},
    }};
    const std::string folded = platform::FoldCase(name);
    for (const auto& [rootName, root] : kRoots) {
        if (folded == rootName) {
            return root;
        }
    }
    return std::nullopt;
}

std::optional<RegistryPath> ParseRegistryPath(std::string_view path) {
    const std::size_t slash = path.find('\\');
    const std::string_view rootName = path.substr(0, slash);
    const std::optional<Root> root = ParseRootName(rootName);
    if (!root) {
        return std::nullopt;
    }
    const std::string_view subKey = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return RegistryPath{*root, std::string(subKey)};
}

}  // namespace stubframework::core
