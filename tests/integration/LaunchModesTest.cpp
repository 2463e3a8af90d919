// The ways the installer is started: launcher and working copy, the
// self-update hand-over, the replacement of the launcher, single instance.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "core/RegistryText.h"
#include "support/ReleaseServer.h"
#include "support/Sandbox.h"

namespace {

namespace stdfs = std::filesystem;
using Names = std::vector<std::string>;

// Waits for the condition; a test whose condition never comes ends at its time-out.
bool Eventually(const std::function<bool()>& condition) {
    while (!condition()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool StillRunning(pid_t child) {
    int status = 0;
    return waitpid(child, &status, WNOHANG) == 0;
}

bool Contains(const std::vector<std::string>& logs, const std::string& text) {
    for (const std::string& log : logs) {
        if (log.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

constexpr const char* kBase = "HKEY_CURRENT_USER\\SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24";

class LaunchModesTest : public ::testing::Test {
protected:
    // A launcher as a user has it: a program in their downloads folder.
    std::string PlaceLauncher(const std::string& program) {
        std::string launcher = downloads_ / "Install Brindlemark";
        stdfs::copy_file(stubtest::Sandbox::BinPath(program), launcher,
                         stdfs::copy_options::overwrite_existing);
        return launcher;
    }

    std::string Quoted(const std::string& path) { return "'" + path + "'"; }

    stubtest::Sandbox sandbox_;
    stubtest::TestFolder downloads_;
    const std::string installer_ = stubtest::Sandbox::BinPath("BrindlemarkInstall-bare");
};

TEST_F(LaunchModesTest, LauncherRunsAWorkingCopyWithItsArgumentsAndRemovesIt) {
    const std::string launcher = PlaceLauncher("BrindlemarkInstall-bare");
    ASSERT_EQ(sandbox_.Run(launcher, "/QN passthrough=A=1 'x y'"), 0);

    EXPECT_EQ(sandbox_.TmpEntries(), Names{"Brindlemark_log"});
    const std::vector<std::string> logs = sandbox_.KeptLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0].find("Command line: \"" + launcher +
                           "\" /QN passthrough=\"A=1\" \"x y\" "
                           "run=\"1\" shortcut=\"" +
                           launcher + "\"\r\n"),
              std::string::npos)
        << logs[0];
}

TEST_F(LaunchModesTest, AnyOtherExitCodeOfTheWorkingCopyMeansNoHandOver) {
    const std::string launcher = PlaceLauncher("stub-test-installer");
    const std::string before = stubtest::ReadFile(launcher);
    const std::string env =
        "STUB_TEST_NEW_VERSION=" + Quoted(installer_) + " STUB_TEST_EXIT_CODE=3";
    ASSERT_EQ(sandbox_.Run("/usr/bin/env", env + " " + Quoted(launcher)), 0);

    EXPECT_EQ(sandbox_.TmpEntries(), Names{"Brindlemark_log"});
    EXPECT_FALSE(Contains(sandbox_.KeptLogs(), "update=\"0\""));
    EXPECT_EQ(stubtest::ReadFile(launcher), before);
}

TEST_F(LaunchModesTest, SelfUpdateRunsTheNewVersionAndReplacesTheLauncher) {
    const std::string launcher = PlaceLauncher("stub-test-installer");
    ASSERT_EQ(sandbox_.Run("/usr/bin/env",
                           "STUB_TEST_NEW_VERSION=" + Quoted(installer_) + " " + Quoted(launcher)),
              0);

    // The new version showed its wizard without offering the update again...
    EXPECT_TRUE(Contains(sandbox_.KeptLogs(), "run=\"1\" update=\"0\" shortcut=\"" + launcher));
    // ...and, once the launcher had ended, took its place.
    const std::string expected = stubtest::ReadFile(installer_);
    EXPECT_TRUE(Eventually([&] { return stubtest::ReadFile(launcher) == expected; }));
    EXPECT_TRUE(Eventually([&] { return sandbox_.TmpEntries() == Names{"Brindlemark_log"}; }));
    EXPECT_EQ(std::distance(stdfs::directory_iterator(downloads_.Path()), {}), 1);
}

TEST_F(LaunchModesTest, TheSelfUpdateMethodHandsOverOnlyAVerifiedNewStub) {
    // Version 2: the same program with bytes of its own, published with its
    // meta file.
    stubtest::ReleaseServer server;
    const std::string v2 = stubtest::ReadFile(stubtest::Sandbox::BinPath("stub-test-installer")) +
                           std::string("\nversion 2\n");
    server.AddPackage("BrindlemarkInstall.exe", v2);
    const std::string launcher = PlaceLauncher("stub-test-installer");
    const std::string before = stubtest::ReadFile(launcher);

    // A failed download (a corrupt block every time, or none at all) hands
    // nothing over: the launcher stays, and no code is left for a later run.
    for (const std::string faults : {"status=404", "corrupt=0"}) {
        EXPECT_EQ(
            sandbox_.Run("/usr/bin/env", "STUB_TEST_SELF_UPDATE_URL=" +
                                             Quoted(server.Url("BrindlemarkInstall.exe", faults)) +
                                             " " + Quoted(launcher)),
            0)
            << faults;
        EXPECT_EQ(stubtest::ReadFile(launcher), before);
        std::string code;
        EXPECT_FALSE(stubframework::core::ReadRegistryText(kBase, "selfupdate_code", code));
    }

    // The working copy ends with the update code, the launcher runs version
    // 2, and version 2 takes the launcher's place, runnable.
    EXPECT_EQ(sandbox_.Run("/usr/bin/env", "STUB_TEST_SELF_UPDATE_URL=" +
                                               Quoted(server.Url("BrindlemarkInstall.exe")) + " " +
                                               Quoted(launcher)),
              0);
    EXPECT_TRUE(Contains(sandbox_.KeptLogs(), "run=\"1\" update=\"0\" shortcut=\"" + launcher));
    EXPECT_TRUE(Eventually([&] { return stubtest::ReadFile(launcher) == v2; }));
    EXPECT_TRUE((stdfs::status(launcher).permissions() & stdfs::perms::owner_exec) !=
                stdfs::perms::none);
    std::string code;
    EXPECT_FALSE(stubframework::core::ReadRegistryText(kBase, "selfupdate_code", code));
    EXPECT_FALSE(stubframework::core::ReadRegistryText(kBase, "update_stub_name", code));
    // The next ordinary run ends as usual.
    EXPECT_TRUE(Eventually([&] { return sandbox_.TmpEntries() == Names{"Brindlemark_log"}; }));
    EXPECT_EQ(sandbox_.Run(launcher), 0);
}

TEST_F(LaunchModesTest, ReplacementWaitsForTheParentThenEndsWithTheGivenCode) {
    const std::string launcher = PlaceLauncher("stub-test-installer");
    const std::string before = stubtest::ReadFile(launcher);
    // The parent runs until the test lets it end.
    const std::string release = sandbox_.Runtime() + "/release";
    const pid_t parent = sandbox_.Start("stub-test-exit", "0 --until '" + release + "'");
    const pid_t replacement = sandbox_.Start(
        installer_, "newVersionExitCode=7 parentProcessID=" + std::to_string(parent) +
                        " shortcut=" + Quoted(launcher));

    // While the parent runs the replacement waits and leaves the launcher alone.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(StillRunning(replacement));
    EXPECT_EQ(stubtest::ReadFile(launcher), before);

    stubtest::WriteFile(release, "");
    EXPECT_EQ(stubtest::Sandbox::Wait(parent), 0);
    EXPECT_EQ(stubtest::Sandbox::Wait(replacement), 7);
    EXPECT_EQ(stubtest::ReadFile(launcher), stubtest::ReadFile(installer_));
    EXPECT_EQ(std::distance(stdfs::directory_iterator(downloads_.Path()), {}), 1);
    EXPECT_TRUE(sandbox_.TmpEntries().empty());
}

TEST_F(LaunchModesTest, ReplacementWithoutALauncherFileOnlyEnds) {
    const std::string missing = downloads_ / "gone";
    EXPECT_EQ(sandbox_.Run(installer_,
                           "newVersionExitCode=9 parentProcessID=1 shortcut=" + Quoted(missing)),
              9);
    EXPECT_FALSE(stdfs::exists(missing));
    EXPECT_TRUE(sandbox_.TmpEntries().empty());
}

TEST_F(LaunchModesTest, ALocalRedirectionBesideTheProgramStopsIt) {
    const std::string launcher = PlaceLauncher("BrindlemarkInstall-bare");
    stdfs::create_directory(launcher + ".local");
    EXPECT_EQ(sandbox_.Run(launcher), 1);
    EXPECT_TRUE(sandbox_.TmpEntries().empty());
}

TEST_F(LaunchModesTest, ASecondInstanceAsksTheFirstForItsWindowAndEnds) {
    const std::string hold = downloads_ / "hold";
    stubtest::WriteFile(hold, "");
    const pid_t first = sandbox_.Start(
        "/usr/bin/env", "STUB_TEST_HOLD_FILE=" + Quoted(hold) + " " +
                            Quoted(stubtest::Sandbox::BinPath("stub-test-installer")) + " run=1");
    ASSERT_TRUE(
        Eventually([&] { return stdfs::exists(sandbox_.Runtime() + "/ZelvoStubFramework.sock"); }));

    EXPECT_EQ(sandbox_.Run("BrindlemarkInstall-bare"), 0);
    EXPECT_TRUE(StillRunning(first));

    stdfs::remove(hold);
    EXPECT_EQ(stubtest::Sandbox::Wait(first), 0);
    const std::vector<std::string> logs = sandbox_.KeptLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0].find("DEBUG] Activation requested by another instance for HTMLUI"),
              std::string::npos);
    EXPECT_EQ(sandbox_.TmpEntries(), Names{"Brindlemark_log"});
}

}  // namespace
