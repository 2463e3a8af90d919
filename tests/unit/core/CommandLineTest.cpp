#include "core/CommandLine.h"

#include <gtest/gtest.h>

#include "platform/commandline.h"

namespace {

using namespace stubframework::core;
using Args = std::vector<std::string>;

TEST(CommandLineTest, ArgumentValues) {
    const Args args{"stub",
                    "xshortcut=C:\\x",
                    "Shortcut=C:\\y",
                    "shortcut=C:\\a.exe",
                    "shortcut=C:\\b.exe",
                    "newVersionExitCode=12"};
    EXPECT_EQ(GetArgumentValue(args, "shortcut"), "C:\\a.exe");
    EXPECT_EQ(GetArgumentValue(args, "newVersionExitCode"), "12");
    EXPECT_EQ(GetArgumentValue(args, "missing"), "");
    // The program name is never an argument value...
    EXPECT_EQ(GetArgumentValue(Args{"shortcut=C:\\p.exe"}, "shortcut"), "");
}

TEST(CommandLineTest, ShortcutPathAndLauncherFolder) {
    std::string path;
    EXPECT_FALSE(ShortcutPath({"stub", "xshortcut=C:\\a.exe"}, path));
    ASSERT_TRUE(ShortcutPath({"stub", "shortcut=C:\\a.exe"}, path));
    EXPECT_EQ(path, "C:\\a.exe");
    EXPECT_EQ(LauncherFolder({"stub", "shortcut=C:\\a.exe"}), "C:");
    EXPECT_EQ(LauncherFolder({"stub", "shortcut=/home/u/Downloads/Install"}), "/home/u/Downloads");
    // ...but the shortcut may be element 0.
    ASSERT_TRUE(ShortcutPath({"shortcut=/x/y"}, path));
    EXPECT_EQ(path, "/x/y");
    EXPECT_FALSE(LauncherFolder({"stub"}).empty());
}

TEST(CommandLineTest, LaunchModes) {
    EXPECT_TRUE(IsWorkingCopy({"stub", "RUN=1"}));
    EXPECT_FALSE(IsWorkingCopy({"stub", "run=1x"}));
    EXPECT_FALSE(IsWorkingCopy({"run=1"}));
    EXPECT_TRUE(IsSkipSelfUpdate({"stub", "a", "Update=0"}));
    EXPECT_FALSE(IsSkipSelfUpdate({"stub", "update=00"}));
    EXPECT_TRUE(IsSilentLaunch({"stub", "/qn"}));
    EXPECT_TRUE(IsSilentLaunch({"/QN"}));
    EXPECT_FALSE(IsSilentLaunch({"stub", "/qn+"}));

    // Paths here are written with "/": a program or launcher in a folder
    // named so is no uninstall.
    EXPECT_EQ(UninstallModeFromArguments({"/opt/Uninstall/setup"}), "");
    EXPECT_EQ(UninstallModeFromArguments({"stub", "shortcut=/home/u/Modify/setup"}), "");
    EXPECT_EQ(UninstallModeFromArguments({"stub", "shortcut=x", "/UNINSTALL"}), "uninstall");
    EXPECT_EQ(UninstallModeFromArguments({"stub", "/modify", "/uninstall"}), "modify");
    EXPECT_EQ(UninstallModeFromArguments({"stub", "x/Uninstall/modify"}), "uninstall");
    EXPECT_EQ(UninstallModeFromArguments({"stub", "/remove"}), "");
}

TEST(CommandLineTest, PassThroughText) {
    const std::string raw = R"(stub.exe /QN passthrough="A=1 B=2" passthro="C=3")";
    EXPECT_EQ(GetQuotedArgumentValue(raw, "passthrough"), "A=1 B=2");
    EXPECT_EQ(PassThroughText(raw), "A=1 B=2 C=3");
    EXPECT_EQ(PassThroughText(R"(stub.exe passthrough="A=1")"), "A=1");
    EXPECT_EQ(PassThroughText(R"(stub.exe passthro="C=3")"), " C=3");
    EXPECT_EQ(PassThroughText(R"(stub.exe passthrough="unterminated)"), "");
    EXPECT_EQ(PassThroughText(R"(stub.exe PASSTHROUGH="x")"), "");
    // Arguments as a POSIX shell hands them over, quotes already removed.
    EXPECT_EQ(PassThroughText(stubframework::platform::BuildCommandLine(
                  {"stub", "passthrough=A=1 B=2", "passthro=C"})),
              "A=1 B=2 C");
}

TEST(CommandLineTest, ResumeModeTakesTheFirstResumeArgumentInAnyCase) {
    EXPECT_EQ(ResumeModeFromArguments({"stub"}), stubframework::ResumeMode::NONE);
    EXPECT_EQ(ResumeModeFromArguments({"stub", "resume=installing"}),
              stubframework::ResumeMode::INSTALLING);
    EXPECT_EQ(ResumeModeFromArguments({"stub", "x", "RESUME=DOWNLOADING", "RESUME=INSTALLING"}),
              stubframework::ResumeMode::DOWNLOADING);
    EXPECT_EQ(ResumeModeFromArguments({"RESUME=INSTALLING"}), stubframework::ResumeMode::NONE);
    EXPECT_EQ(ResumeModeFromArguments({"stub", "RESUME=INSTALLINGX"}),
              stubframework::ResumeMode::NONE);
}

}  // namespace
