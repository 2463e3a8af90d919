#include "platform/commandline.h"

#include "platform/process.h"

namespace stubframework::platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

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

// The program name ends at the next quote when it starts with one, else at
// the first blank; no escapes apply to it.
std::size_t SplitProgramName(std::string_view line, std::vector<std::string>& out) {
    std::size_t i = 0;
    if (!line.empty() && line[0] == '"') {
        const std::size_t close = line.find('"', 1);
        const std::size_t end = close == std::string_view::npos ? line.size() : close;
        out.emplace_back(line.substr(1, end - 1));
        i = close == std::string_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !IsBlank(line[i])) {
            ++i;
        }
        out.emplace_back(line.substr(0, i));
    }
    return i;
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

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> out;
    std::size_t i = SplitProgramName(line, out);
    for (;;) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            return out;
        }
        std::string argument;
        std::size_t backslashes = 0;
        int quotes = 0;  // 1 inside a quoted part
        for (; i < line.size(); ++i) {
            const char c = line[i];
            if (IsBlank(c) && quotes == 0) {
                break;
            }
            if (c == '\\') {
                ++backslashes;
                argument += c;
                continue;
            }
            if (c != '"') {
                backslashes = 0;
                argument += c;
                continue;
            }
            // 2n backslashes and a quote: n backslashes, the quote toggles;
            // 2n+1 backslashes and a quote: n backslashes and a literal quote.
            argument.resize(argument.size() - backslashes / 2 - (backslashes % 2));
            if (backslashes % 2 == 1) {
                argument += '"';
            } else {
                ++quotes;
            }
            backslashes = 0;
            // Runs of quotes: every third one is a literal quote.
            while (i + 1 < line.size() && line[i + 1] == '"') {
                ++i;
                if (++quotes == 3) {
                    argument += '"';
                    quotes = 0;
                }
            }
            if (quotes == 2) {
                quotes = 0;
            }
        }
        out.push_back(std::move(argument));
    }
}

const std::string& RawCommandLine() {
    static const std::string raw = BuildCommandLine(process::Arguments());
    return raw;
}

}  // namespace stubframework::platform
