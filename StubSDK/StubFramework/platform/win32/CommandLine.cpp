// The command line as Windows keeps it: GetCommandLine for the raw text,
// CommandLineToArgvW for splitting, and quoting that survives that split.
#include "platform/commandline.h"

#include "platform/unicode.h"
#include "platform/win32/Win32.h"
// After windows.h.
#include <shellapi.h>

namespace stubframework::platform {
namespace {

constexpr const char* kQuoteTriggers = " \t\n\v\"";

bool NeedsQuotes(std::string_view argument) {
    return argument.empty() || argument.find_first_of(kQuoteTriggers) != std::string_view::npos;
}

// Quotes always; backslashes are doubled only where a quote follows them.
std::string Quote(std::string_view argument) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

struct LocalMemory {
    HLOCAL memory;
    ~LocalMemory() { LocalFree(memory); }
};

}  // namespace

std::string QuoteArgument(std::string_view argument) {
    return NeedsQuotes(argument) ? Quote(argument) : std::string(argument);
}

std::string BuildCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (i == 0) {
            // A program name cannot hold a quote; blanks or nothing need the quotes.
            const bool quote =
                argument.empty() || argument.find_first_of(" \t") != std::string::npos;
            line += quote ? "\"" + argument + "\"" : argument;
            continue;
        }
        line += ' ';
        // name=value is written name="value", the way people type it on
        // Windows, so rules that look for name=" in the raw text find it.
        const std::size_t equals = argument.find('=');
        if (equals != std::string::npos && argument.find_first_of(kQuoteTriggers) > equals) {
            line += argument.substr(0, equals + 1);
            line += Quote(std::string_view(argument).substr(equals + 1));
        } else {
            line += QuoteArgument(argument);
        }
    }
    return line;
}

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
