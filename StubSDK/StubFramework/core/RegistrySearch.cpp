#include "core/RegistrySearch.h"

#include <cstddef>
#include <cstdint>

#include "core/RegistryPath.h"
#include "platform/error.h"
#include "platform/unicode.h"

namespace stubframework::core {
namespace {

namespace reg = platform::registry;

// The store's own depth limit: no key lies deeper.
constexpr std::size_t kMaxDepth = 512;

bool HoldsValue(const reg::Key& key, std::string_view name) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    return reg::QueryValue(key, name, type, data) == platform::kErrorSuccess;
}

class Search {
public:
    Search(const std::vector<std::string>& relativePaths, std::string_view valueName)
        : relativePaths_(relativePaths), valueName_(valueName) {}

    // `pathText` names `key` and ends in a backslash; `depth` counts its keys.
    std::optional<std::string> Visit(const reg::Key& key, const std::string& pathText,
                                     std::size_t depth) const {
        if (HoldsValue(key, valueName_)) {
            for (const std::string& relative : relativePaths_) {
                if (RelativePathMatches(pathText, relative)) {
                    return pathText;
                }
            }
            return std::nullopt;
        }
        if (depth >= kMaxDepth) {
            return std::nullopt;
        }
        std::string name;
        for (std::uint32_t index = 0; reg::EnumKey(key, index, name) == platform::kErrorSuccess;
             ++index) {
            reg::Key subKey;
            if (reg::OpenSubKey(key, name, reg::Access::Read, subKey) != platform::kErrorSuccess) {
                continue;
            }
            if (std::optional<std::string> found =
                    Visit(subKey, pathText + name + '\\', depth + 1)) {
                return found;
            }
        }
        return std::nullopt;
    }

private:
    const std::vector<std::string>& relativePaths_;
    std::string_view valueName_;
};

// The number of keys in a path text that ends in a backslash.
std::size_t PathDepth(std::string_view pathText) {
    std::size_t depth = 0;
    for (const char c : pathText) {
        depth += c == '\\' ? 1 : 0;
    }
    return depth;
}

}  // namespace

bool RelativePathMatches(std::string_view keyPathText, std::string_view relative) {
    // Lengths count UTF-16 units, as the stub's paths always have.
    const std::u16string path = platform::Utf8ToUtf16(keyPathText);
    const std::u16string tail = platform::Utf8ToUtf16(relative);
    if (tail.size() >= path.size()) {
        return false;
    }
    const std::u16string cut = path.substr(path.size() - 1 - tail.size(), tail.size());
    return platform::FoldCase(platform::Utf16ToUtf8(cut)) == platform::FoldCase(relative);
}

std::vector<std::string> SplitRelativePaths(std::string_view list) {
    std::vector<std::string> paths;
    while (!list.empty()) {
        const std::size_t end = list.find(';');
        const std::string_view item = list.substr(0, end);
        if (!item.empty()) {
            paths.emplace_back(item);
        }
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    }
    return paths;
}

std::optional<std::string> SearchRegistryKey(std::string_view keyPath,
                                             const std::vector<std::string>& relativePaths,
                                             std::string_view valueName, reg::View view) {
    const std::optional<RegistryPath> path = ParseRegistryPath(keyPath);
    if (relativePaths.empty() || !path) {
        return std::nullopt;
    }
    reg::Key key;
    if (reg::OpenKey(path->root, path->subKey, view, reg::Access::Read, key) !=
        platform::kErrorSuccess) {
        return std::nullopt;
    }
    // Joined with exactly one backslash, whether the page ended the path with one or not.
    std::string pathText = path->subKey;
    if (!pathText.empty() && pathText.back() != '\\') {
        pathText += '\\';
    }
    return Search(relativePaths, valueName).Visit(key, pathText, PathDepth(pathText));
}

}  // namespace stubframework::core
