#include "platform/win32/FsPath.h"

#include <algorithm>

#include "platform/unicode.h"
#include "platform/win32/Win32.h"

namespace stubframework::platform::win32 {
namespace {

// Longer paths take the \\?\ form: CreateDirectoryW stops at MAX_PATH - 12.
constexpr std::size_t kShortPathLimit = MAX_PATH - 12;

bool StartsWith(std::wstring_view text, std::wstring_view start) {
    return text.substr(0, start.size()) == start;
}

}  // namespace

bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

std::string NarrowText(std::wstring_view wide) {
    return Utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

std::wstring FullPathName(const std::wstring& path) {
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    size = size == 0 ? 0 : GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (size == 0 || size >= full.size()) {
        return path;
    }
    full.resize(size);
    return full;
}

std::wstring WidePath(std::string_view path) {
    std::u16string units = Utf8ToUtf16(path);
    std::replace(units.begin(), units.end(), u'/', u'\\');
    const std::wstring wide(reinterpret_cast<const wchar_t*>(units.data()), units.size());
    if (wide.size() < kShortPathLimit || StartsWith(wide, L"\\\\?\\") ||
        StartsWith(wide, L"\\\\.\\")) {
        return wide;
    }
    // \\?\ turns off the parsing of "." and "..": resolve them first.
    const std::wstring full = FullPathName(wide);
    if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\")) {
        return full;
    }
    if (StartsWith(full, L"\\\\")) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return full.size() >= 3 && full[1] == L':' ? L"\\\\?\\" + full : full;
}

std::string PathFromSystem(std::wstring_view wide, std::string_view asked) {
    const bool askedExtended = asked.substr(0, 4) == "\\\\?\\";
    if (!askedExtended && StartsWith(wide, L"\\\\?\\UNC\\")) {
        return "\\\\" + NarrowText(wide.substr(8));
    }
    if (!askedExtended && StartsWith(wide, L"\\\\?\\")) {
        return NarrowText(wide.substr(4));
    }
    return NarrowText(wide);
}

std::size_t PathRootLength(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':') {
        return path.size() >= 3 && IsPathSeparator(path[2]) ? 3 : 2;
    }
    if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
        const std::size_t server = path.find_first_of("\\/", 2);
        const std::size_t share =
            server == std::string_view::npos ? server : path.find_first_of("\\/", server + 1);
        return share == std::string_view::npos ? path.size() : share + 1;
    }
    return !path.empty() && IsPathSeparator(path[0]) ? 1 : 0;
}

}  // namespace stubframework::platform::win32
