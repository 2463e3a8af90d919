#include "core/RegistryText.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/RegistryPath.h"
#include "platform/error.h"

namespace stubframework::core {
namespace {

namespace reg = platform::registry;

bool ReadFromView(const RegistryPath& path, std::string_view name, reg::View view,
                  std::size_t maxBytes, std::string& text) {
    reg::Key key;
    if (reg::OpenKey(path.root, path.subKey, view, reg::Access::Read, key) !=
        platform::kErrorSuccess) {
        return false;
    }
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (reg::QueryValue(key, name, type, data) != platform::kErrorSuccess ||
        data.size() > maxBytes) {
        return false;
    }
    text = RegistryValueText(type, data);
    return true;
}

}  // namespace

std::string RegistryValueText(std::uint32_t type, const std::vector<std::uint8_t>& data) {
    if (type == reg::kRegDword && data.size() >= 4) {
        std::int32_t value = 0;
        std::memcpy(&value, data.data(), sizeof value);
        return std::to_string(value);
    }
    return reg::DataText(data);
}

bool ReadRegistryText(std::string_view keyPath, std::string_view name, std::string& text,
                      std::size_t maxBytes) {
    const std::optional<RegistryPath> path = ParseRegistryPath(keyPath);
    if (!path) {
        return false;
    }
    return ReadFromView(*path, name, reg::View::Wow64_64, maxBytes, text) ||
           ReadFromView(*path, name, reg::View::Wow64_32, maxBytes, text);
}

bool WriteRegistryText(std::string_view keyPath, std::string_view name, std::string_view text,
                       reg::View view) {
    const std::optional<RegistryPath> path = ParseRegistryPath(keyPath);
    if (!path) {
        return false;
    }
    reg::Key key;
    if (reg::CreateKey(path->root, path->subKey, view, key) != platform::kErrorSuccess) {
        return false;
    }
    return reg::SetValue(key, name, reg::kRegSz, reg::TextData(text)) == platform::kErrorSuccess;
}

bool DeleteRegistryKey(std::string_view keyPath, reg::View view) {
    const std::optional<RegistryPath> path = ParseRegistryPath(keyPath);
    return path && reg::DeleteKey(path->root, path->subKey, view) == platform::kErrorSuccess;
}

bool DeleteRegistryValue(std::string_view keyPath, std::string_view name, reg::View view) {
    const std::optional<RegistryPath> path = ParseRegistryPath(keyPath);
    reg::Key key;
    return path &&
           reg::OpenKey(path->root, path->subKey, view, reg::Access::All, key) ==
               platform::kErrorSuccess &&
           reg::DeleteValue(key, name) == platform::kErrorSuccess;
}

}  // namespace stubframework::core
