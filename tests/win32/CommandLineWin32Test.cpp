// Quoting against Windows' own splitter: whatever BuildCommandLine writes,
// CommandLineToArgvW must give back argument for argument.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/commandline.h"
#include "platform/unicode.h"
#include "platform/win32/Win32.h"
// After windows.h.
#include <shellapi.h>

namespace {

namespace platform = stubframework::platform;
using Args = std::vector<std::string>;

// The system's split, without our code in between.
Args SystemSplit(const std::string& line) {
    const std::u16string wide = platform::Utf8ToUtf16(line);
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(reinterpret_cast<const wchar_t*>(wide.c_str()), &count);
    Args out;
    for (int i = 0; argv != nullptr && i < count; ++i) {
        out.push_back(platform::Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
    }
    LocalFree(argv);
    return out;
}

TEST(CommandLineWin32Test, HardArgumentsSurviveTheSystemSplit) {
    const Args arguments{"C:\\Program Files\\my app\\stub.exe",
                         "",
                         "plain",
                         "two words",
                         "quote\"in",
                         "trailing\\",
                         "trailing two\\\\",
                         "both\\ \"x\"\\\\",
                         "\\\\\"",
                         "tab\there",
                         "line\nfeed",
                         "passthrough=\"A=1\"",
                         "dir=C:\\my dir\\",
                         "a b=c",
                         "\\\\server\\share\\",
                         "\"",
                         "\"\"",
                         "\\",
                         "Grüße 😀"};
    const std::string line = platform::BuildCommandLine(arguments);
    EXPECT_EQ(SystemSplit(line), arguments) << line;
    EXPECT_EQ(platform::SplitCommandLine(line), arguments) << line;
}

TEST(CommandLineWin32Test, EveryShortArgumentSurvivesTheSystemSplit) {
    // Each argument of up to four characters over the ones that matter.
    const std::string alphabet = "a \\\"\t=";
    Args arguments{"x.exe"};
    std::vector<std::size_t> digits;
    while (digits.size() <= 4) {
        std::string argument;
        for (const std::size_t digit : digits) {
            argument += alphabet[digit];
        }
        arguments.push_back(argument);
        std::size_t i = 0;
        for (; i < digits.size() && ++digits[i] == alphabet.size(); ++i) {
            digits[i] = 0;
        }
        if (i == digits.size()) {
            digits.push_back(0);
        }
    }
    // One line with them all, and a line each: a fault in one argument can
    // also shift the ones after it.
    EXPECT_EQ(SystemSplit(platform::BuildCommandLine(arguments)), arguments);
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string line = platform::BuildCommandLine({"x.exe", arguments[i], "next"});
        ASSERT_EQ(SystemSplit(line), (Args{"x.exe", arguments[i], "next"})) << line;
    }
}

TEST(CommandLineWin32Test, EmptyLineIsOneEmptyProgramName) {
    // CommandLineToArgvW would answer with this program's own path.
    EXPECT_EQ(platform::SplitCommandLine(""), Args{""});
    using namespace std::string_literals;
    EXPECT_EQ(platform::SplitCommandLine("\0x"s), Args{""});
    EXPECT_EQ(platform::SplitCommandLine("a.exe b\0c"s), (Args{"a.exe", "b"}));
}

TEST(CommandLineWin32Test, RawCommandLineIsThisProcesssOwn) {
    const std::string& raw = platform::RawCommandLine();
    EXPECT_EQ(raw, platform::Utf16ToUtf8(reinterpret_cast<const char16_t*>(GetCommandLineW())));
    const Args split = platform::SplitCommandLine(raw);
    ASSERT_FALSE(split.empty());
    EXPECT_NE(split[0].find(".exe"), std::string::npos) << raw;
}

}  // namespace
