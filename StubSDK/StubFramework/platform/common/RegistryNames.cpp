#include "platform/common/RegistryNames.h"

#include "platform/registry.h"
#include "platform/unicode.h"

namespace stubframework::platform::registry {

namespace detail {

// The name a Win32 call would see: up to the first null, invalid UTF-8
// replaced, so stored names always read back as valid text.
std::string CleanName(std::string_view text) {
    const std::size_t null = text.find('\0');
    return Utf16ToUtf8(Utf8ToUtf16(text.substr(0, null)));
}

std::uint32_t SplitPath(std::string_view text, std::vector<std::string>& parts) {
    const std::string clean = CleanName(text);
    std::string_view rest = clean;
    parts.clear();
    if (rest.empty()) {
        return kErrorSuccess;
    }
    if (rest.front() == '\\') {
        return kErrorBadKey;
    }
    if (rest.back() == '\\') {
        rest.remove_suffix(1);
    }
    while (true) {
        const std::size_t slash = rest.find('\\');
        const std::string_view part = rest.substr(0, slash);
        if (part.empty()) {
            return kErrorBadKey;
        }
        if (Utf16Length(part) > kMaxKeyNameUnits || parts.size() >= kMaxDepth) {
            return kErrorInvalidParameter;
        }
        parts.emplace_back(part);
        if (slash == std::string_view::npos) {
            return kErrorSuccess;
        }
        rest.remove_prefix(slash + 1);
    }
}

std::string JoinPath(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) {
        if (!path.empty()) {
            path += '\\';
        }
        path += part;
    }
    return path;
}

}  // namespace detail

const char* RootName(Root root) {
    switch (root) {
        case Root::ClassesRoot:
            return "HKEY_CLASSES_ROOT";
        case Root::CurrentUser:
            return "HKEY_CURRENT_USER";
        case Root::LocalMachine:
            return "HKEY_LOCAL_MACHINE";
        case Root::Users:
            return "HKEY_USERS";
        case Root::CurrentConfig:
            return "HKEY_CURRENT_CONFIG";
        case Root::DynData:
            return "HKEY_DYN_DATA";
    }
    return "";
}

std::vector<std::uint8_t> TextData(std::string_view text) {
    const std::u16string units = Utf8ToUtf16(text);
    std::vector<std::uint8_t> data;
    data.reserve((units.size() + 1) * 2);
    for (const char16_t unit : units) {
        data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        data.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    data.insert(data.end(), {0, 0});
    return data;
}

std::string DataText(std::span<const std::uint8_t> data) {
    std::u16string units;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        units += unit;
    }
    return Utf16ToUtf8(units);
}

}  // namespace stubframework::platform::registry
