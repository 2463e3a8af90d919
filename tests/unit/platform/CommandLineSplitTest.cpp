#include <gtest/gtest.h>

#include "platform/commandline.h"

namespace {

using stubframework::platform::BuildCommandLine;
using stubframework::platform::QuoteArgument;
using stubframework::platform::SplitCommandLine;
using Args = std::vector<std::string>;

struct SplitCase {
    const char* line;
    Args arguments;
};

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, SplitsByTheWindowsRules) {
    EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().arguments) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    TrickyLines, SplitTest,
    ::testing::Values(SplitCase{R"("C:\Program Files\a.exe" x  "y z")",
                                {R"(C:\Program Files\a.exe)", "x", "y z"}},
                      SplitCase{"a.exe\tx\t\ty", {"a.exe", "x", "y"}},
                      SplitCase{"a.exe \"x\ty\"", {"a.exe", "x\ty"}},
                      // Backslashes count only before a quote.
                      SplitCase{R"(a.exe a\\b a\\\"b "a\\" c\d\)",
                                {"a.exe", R"(a\\b)", R"(a\"b)", R"(a\)", R"(c\d\)"}},
                      SplitCase{R"(a.exe \\\\"x y")", {"a.exe", R"(\\x y)"}},
                      // A doubled quote inside quotes is a literal quote that also ends the
                      // quoted part; a run of three quotes gives one literal quote.
                      SplitCase{R"(a.exe "a""b c" d)", {"a.exe", R"(a"b)", "c d"}},
                      SplitCase{R"(a.exe """x""" a"" b)", {"a.exe", R"("x")", "a", "b"}},
                      // Empty arguments exist only as quotes.
                      SplitCase{R"(a.exe "" "")", {"a.exe", "", ""}},
                      SplitCase{"a.exe   ", {"a.exe"}},
                      // The program name takes no escapes and ends at its closing quote.
                      SplitCase{R"("C:\a\"b c)", {R"(C:\a\)", "b", "c"}},
                      SplitCase{R"("C:\my dir\x.exe"run=1)", {R"(C:\my dir\x.exe)", "run=1"}},
                      SplitCase{R"(C:\a"b c)", {R"(C:\a"b)", "c"}}, SplitCase{" x", {"", "x"}},
                      SplitCase{"", {""}},
                      SplitCase{"a.exe \"unterminated arg", {"a.exe", "unterminated arg"}}),
    [](const ::testing::TestParamInfo<SplitCase>& param) { return std::to_string(param.index); });

TEST(JoinTest, QuotingRoundTripsAnyArgument) {
    const Args arguments{"/opt/my app/stub",    "plain",       "",
                         "two words",           R"(quote"in)", R"(trailing\)",
                         R"(both\ "x"\\)",      "tab\there",   "passthrough=\"A=1\"",
                         "\\\\server\\share\\", "\"",          "\\"};
    EXPECT_EQ(SplitCommandLine(BuildCommandLine(arguments)), arguments);
}

TEST(JoinTest, QuotesOnlyWhatNeedsIt) {
    EXPECT_EQ(QuoteArgument("run=1"), "run=1");
    EXPECT_EQ(QuoteArgument(R"(C:\a\b)"), R"(C:\a\b)");
    EXPECT_EQ(QuoteArgument(""), R"("")");
    EXPECT_EQ(QuoteArgument(R"(a b\)"), R"("a b\\")");
    EXPECT_EQ(QuoteArgument(R"(say "hi")"), R"("say \"hi\"")");
    EXPECT_EQ(BuildCommandLine({"/my app/x", "a b"}), R"("/my app/x" "a b")");
    EXPECT_EQ(BuildCommandLine({"stub", "/QN", "passthrough=A=1", "shortcut=/my dir/x\\", "a b=c"}),
              R"(stub /QN passthrough="A=1" shortcut="/my dir/x\\" "a b=c")");
}

}  // namespace
