#include "platform/commandline.h"

#include "platform/process.h"

namespace stubframework::platform {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
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
