#include "platform/unicode.h"

#include "platform/win32/Win32.h"

namespace stubframework::platform {
namespace {

const wchar_t* Wide(std::u16string_view text) {
    return reinterpret_cast<const wchar_t*>(text.data());
}

}  // namespace

// Windows' own conversions: without MB_ERR_INVALID_CHARS they put U+FFFD
// where the input is malformed.
std::u16string Utf8ToUtf16(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(units), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, reinterpret_cast<wchar_t*>(out.data()),
                        units);
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, Wide(text), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, Wide(text), size, out.data(), bytes, nullptr, nullptr);
    return out;
}

std::size_t Utf16Length(std::string_view text) {
    return Utf8ToUtf16(text).size();
}

// Upper case by the invariant table, as the registry and the file system
// compare names.
std::string FoldCase(std::string_view text) {
    std::u16string units = Utf8ToUtf16(text);
    if (!units.empty()) {
        CharUpperBuffW(reinterpret_cast<wchar_t*>(units.data()), static_cast<DWORD>(units.size()));
    }
    return Utf16ToUtf8(units);
}

}  // namespace stubframework::platform
