// Quoting that survives the Windows split (CommandLineToArgvW's rules) on
// every system: the command lines written into the registry, RunOnce
// values and child processes are Windows command lines everywhere.
#include <string>
#include <string_view>
#include <vector>

#include "platform/commandline.h"

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

}  // namespace stubframework::platform
