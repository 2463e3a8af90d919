#include "core/CommandLine.h"

#include "platform/process.h"
#include "platform/unicode.h"

namespace stubframework::core {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool NeedsQuotes(std::string_view argument) {
    return argument.empty() || argument.find_first_of(" \t\n\v\"") != std::string_view::npos;
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
    if (!NeedsQuotes(argument)) {
        return std::string(argument);
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string BuildCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i == 0) {
            // A program name cannot hold a quote; blanks need the quotes.
            const bool blank =
                arguments[0].find_first_of(" \t") != std::string::npos || arguments[0].empty();
            line += blank ? "\"" + arguments[0] + "\"" : arguments[0];
            continue;
        }
        line += ' ';
        line += QuoteArgument(arguments[i]);
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
    static const std::string raw = BuildCommandLine(platform::process::Arguments());
    return raw;
}

const std::vector<std::string>& CommandLineArguments() {
    static const std::vector<std::string> arguments = SplitCommandLine(RawCommandLine());
    return arguments;
}

std::string GetArgumentValue(const std::vector<std::string>& arguments, std::string_view name) {
    const std::string prefix = std::string(name) + "=";
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i].starts_with(prefix)) {
            return arguments[i].substr(prefix.size());
        }
    }
    return {};
}

std::string GetQuotedArgumentValue(std::string_view raw, std::string_view name) {
    const std::string key = std::string(name) + "=\"";
    const std::size_t start = raw.find(key);
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t valueStart = start + key.size();
    const std::size_t end = raw.find('"', valueStart);
    if (end == std::string_view::npos) {
        return {};
    }
    return std::string(raw.substr(valueStart, end - valueStart));
}

std::string PassThroughText(std::string_view raw) {
    std::string text = GetQuotedArgumentValue(raw, "passthrough");
    const std::string shortForm = GetQuotedArgumentValue(raw, "passthro");
    if (!shortForm.empty()) {
        text += ' ';
        text += shortForm;
    }
    return text;
}

ResumeMode ResumeModeFromArguments(const std::vector<std::string>& arguments) {
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string folded = platform::FoldCase(arguments[i]);
        if (folded == "RESUME=DOWNLOADING") {
            return DOWNLOADING;
        }
        if (folded == "RESUME=INSTALLING") {
            return INSTALLING;
        }
    }
    return NONE;
}

}  // namespace stubframework::core
