// The command line as Windows keeps it: GetCommandLine for the raw text,
// CommandLineToArgvW for splitting, and quoting that survives that split.
#include "platform/commandline.h"

#include "platform/unicode.h"
#include "platform/win32/Win32.h"
// After windows.h.
#include <shellapi.h>

namespace stubframework::platform {
namespace {

struct LocalMemory {
    HLOCAL memory;
    ~LocalMemory() { LocalFree(memory); }
};

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    // Given nothing, CommandLineToArgvW answers with this program's own path;
    // the empty line is one empty program name.
    const std::u16string wide = Utf8ToUtf16(commandLine.substr(0, commandLine.find('\0')));
    if (wide.empty()) {
        return {std::string()};
    }
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(reinterpret_cast<const wchar_t*>(wide.c_str()), &count);
    if (argv == nullptr) {
        return {};
    }
    const LocalMemory owner{reinterpret_cast<HLOCAL>(argv)};
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        arguments.push_back(Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
    }
    return arguments;
}

const std::string& RawCommandLine() {
    static const std::string raw =
        Utf16ToUtf8(reinterpret_cast<const char16_t*>(GetCommandLineW()));
    return raw;
}

}  // namespace stubframework::platform
