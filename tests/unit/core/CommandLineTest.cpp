#include "core/CommandLine.h"

#include <gtest/gtest.h>

namespace {

using namespace stubframework::core;
using Args = std::vector<std::string>;

TEST(CommandLineTest, SplitsByTheWindowsRules) {
    EXPECT_EQ(SplitCommandLine(R"("C:\Program Files\a.exe" x  "y z")"),
              (Args{R"(C:\Program Files\a.exe)", "x", "y z"}));
    // Backslashes count only before a quote.
    EXPECT_EQ(SplitCommandLine(R"(a.exe a\\b a\\\"b "a\\" c\d\)"),
              (Args{"a.exe", R"(a\\b)", R"(a\"b)", R"(a\)", R"(c\d\)"}));
    // A doubled quote inside quotes is a literal quote that also ends the
    // quoted part; a run of three quotes gives one literal quote.
    EXPECT_EQ(SplitCommandLine(R"(a.exe "a""b c" d)"), (Args{"a.exe", R"(a"b)", "c d"}));
    EXPECT_EQ(SplitCommandLine(R"(a.exe """x""" a"" b)"), (Args{"a.exe", R"("x")", "a", "b"}));
    // The program name takes no escapes and ends at its closing quote.
    EXPECT_EQ(SplitCommandLine(R"("C:\a\"b c)"), (Args{R"(C:\a\)", "b", "c"}));
    EXPECT_EQ(SplitCommandLine("prog"), (Args{"prog"}));
    EXPECT_EQ(SplitCommandLine(""), (Args{""}));
}

TEST(CommandLineTest, QuotingRoundTripsAnyArgument) {
    const Args arguments{"/opt/my app/stub", "plain",       "",
                         "two words",        R"(quote"in)", R"(trailing\)",
                         R"(both\ "x"\\)",   "tab\there",   "passthrough=\"A=1\""};
    EXPECT_EQ(SplitCommandLine(BuildCommandLine(arguments)), arguments);
}

TEST(CommandLineTest, ArgumentValuesAndPassThrough) {
    const Args args{"stub", "xshortcut=C:\\x", "shortcut=C:\\a.exe", "shortcut=C:\\b.exe"};
    EXPECT_EQ(GetArgumentValue(args, "shortcut"), "C:\\a.exe");
    EXPECT_EQ(GetArgumentValue(args, "missing"), "");
    EXPECT_EQ(GetArgumentValue(Args{"shortcut=C:\\p.exe"}, "shortcut"), "");

    const std::string raw = R"(stub.exe /QN passthrough="A=1 B=2" passthro="C=3")";
    EXPECT_EQ(GetQuotedArgumentValue(raw, "passthrough"), "A=1 B=2");
    EXPECT_EQ(PassThroughText(raw), "A=1 B=2 C=3");
    EXPECT_EQ(PassThroughText(R"(stub.exe passthrough="A=1")"), "A=1");
    EXPECT_EQ(PassThroughText(R"(stub.exe passthrough="unterminated)"), "");
}

TEST(CommandLineTest, ResumeModeTakesTheFirstResumeArgumentInAnyCase) {
    EXPECT_EQ(ResumeModeFromArguments({"stub"}), stubframework::NONE);
    EXPECT_EQ(ResumeModeFromArguments({"stub", "resume=installing"}), stubframework::INSTALLING);
    EXPECT_EQ(ResumeModeFromArguments({"stub", "x", "RESUME=DOWNLOADING", "RESUME=INSTALLING"}),
              stubframework::DOWNLOADING);
    EXPECT_EQ(ResumeModeFromArguments({"RESUME=INSTALLING"}), stubframework::NONE);
    EXPECT_EQ(ResumeModeFromArguments({"stub", "RESUME=INSTALLINGX"}), stubframework::NONE);
}

}  // namespace
