// Paths between the core's UTF-8 and the W functions: either separator in,
// the native one out, and the \\?\ form for paths past MAX_PATH.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace stubframework::platform::win32 {

bool IsPathSeparator(char c);
// A path as the W functions take it.
std::wstring WidePath(std::string_view path);
// A path the system gave back, without the \\?\ form WidePath may have
// added to `asked`.
std::string PathFromSystem(std::wstring_view wide, std::string_view asked);
std::string NarrowText(std::wstring_view wide);
// GetFullPathName: `path` as it stands when it has none.
std::wstring FullPathName(const std::wstring& path);
// How much of `path` is its root: a drive's ("C:\"), a share's
// ("\\server\share\"), the current drive's ("\"), or none.
std::size_t PathRootLength(std::string_view path);

}  // namespace stubframework::platform::win32
