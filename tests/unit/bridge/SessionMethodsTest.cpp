// The uninstall entry and the run after a restart, as the page sets them.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/RegistryText.h"
#include "install/Installers.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/session.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"
#include "support/Sandbox.h"
#include "support/TestFolder.h"
#include "support/TestPackages.h"

namespace {

namespace stdfs = std::filesystem;
namespace reg = stubframework::platform::registry;
using namespace stubframework;
using stubtest::CallMethod;

constexpr const char* kCode = "{11111111-2222-3333-4444-000000000001}";

std::string Value(reg::Root root, const std::string& key, const std::string& name, reg::View view,
                  std::uint32_t* type = nullptr) {
    reg::Key opened;
    std::uint32_t found = 0;
    std::vector<std::uint8_t> data;
    if (reg::OpenKey(root, key, view, reg::Access::Read, opened) != 0 ||
        reg::QueryValue(opened, name, found, data) != 0) {
        return "<none>";
    }
    if (type != nullptr) {
        *type = found;
    }
    return core::RegistryValueText(found, data);
}

// The arguments of a desktop entry's Exec line, as a session reads them.
std::vector<std::string> ExecArguments(const std::string& entry) {
    const std::size_t start = entry.find("\nExec=") + 6;
    std::string value = entry.substr(start, entry.find('\n', start) - start);
    std::string unescaped;  // the string escapes first
    for (std::size_t i = 0; i < value.size(); ++i) {
        unescaped += value[i] == '\\' && i + 1 < value.size() ? value[++i] : value[i];
    }
    std::vector<std::string> arguments;
    std::string current;
    bool quoted = false;
    bool any = false;
    for (std::size_t i = 0; i < unescaped.size(); ++i) {
        const char c = unescaped[i];
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (quoted && c == '\\' && i + 1 < unescaped.size()) {
            current += unescaped[++i];
        } else if (c == '%' && i + 1 < unescaped.size() && unescaped[i + 1] == '%') {
            current += '%';
            ++i;
        } else if (c == ' ' && !quoted) {
            if (any || !current.empty()) {
                arguments.push_back(current);
            }
            current.clear();
            any = false;
        } else {
            current += c;
        }
    }
    if (any || !current.empty()) {
        arguments.push_back(current);
    }
    return arguments;
}

int RunArguments(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SessionMethodsTest : public ::testing::Test {
protected:
    stubtest::BridgeFixture bridge;
    stubtest::TestFolder work;
    stubtest::ScopedEnv root_{"STUB_INSTALL_ROOT", work / "root"};
    stubtest::ScopedEnv config_{"XDG_CONFIG_HOME", work / "config dir"};
};

TEST_F(SessionMethodsTest, TheUninstallEntryRunsACopyOfTheStubAndLeavesTheProductsRecord) {
    // A per-machine product: its installer record and its entry are the
    // machine's, where the stub writes its own entry for the same code.
    const std::string msi = stubtest::BuildTestMsi(work.Path(), "1.0.0", kCode);
    ASSERT_FALSE(msi.empty());
    ASSERT_EQ(core::InstallMsi(bridge.Dispatch(), msi, "/qn ALLUSERS=1"), ErrorHandle::NoError);

    const std::string bare = std::string(kCode).substr(1, 36);
    // The 32-bit view: the very key the installer's own entry for the product is in.
    const auto call = CallMethod(bridge, "setUninstallRegistryFromStub", {bare, false});
    EXPECT_EQ(call.hr, S_OK);
    EXPECT_NE(call.log.find("SetUninstallRegistryFromStub result: success"), std::string::npos);
    const std::string copy =
        work / ("root/ProgramData/Zelvo/Brindlemark/" +
                stdfs::path(platform::process::ExecutablePath()).filename().string());
    ASSERT_TRUE(stdfs::exists(copy));
    EXPECT_NE(stdfs::status(copy).permissions() & stdfs::perms::owner_exec, stdfs::perms::none);
    const std::string key =
        std::string("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\") + kCode;
    std::uint32_t type = 0;
    EXPECT_EQ(Value(reg::Root::LocalMachine, key, "UninstallString", reg::View::Wow64_32, &type),
              "\"" + copy + "\" /uninstall ");
    EXPECT_EQ(type, reg::kRegExpandSz);
    EXPECT_EQ(Value(reg::Root::LocalMachine, key, "ModifyPath", reg::View::Wow64_32),
              "\"" + copy + "\" /modify ");
    EXPECT_EQ(Value(reg::Root::LocalMachine, key, "WindowsInstaller", reg::View::Wow64_32, &type),
              "0");
    EXPECT_EQ(type, reg::kRegDword);
    EXPECT_EQ(Value(reg::Root::LocalMachine, key, "DisplayIcon", reg::View::Wow64_32), copy);
    // The other view was left alone.
    EXPECT_EQ(Value(reg::Root::LocalMachine, key, "DisplayIcon", reg::View::Wow64_64), "<none>");

    // The entry shows the stub; the installer still knows its product in
    // its own record, so removal works (and takes the entry along).
    EXPECT_EQ(
        core::RunUninstall(bridge.Dispatch(), std::string("msiexec.exe /x ") + kCode + " /qn"),
        ErrorHandle::NoError);
    EXPECT_FALSE(stdfs::exists(work / "root/Program Files (x86)/Brindlemark/app.txt"));
    EXPECT_EQ(Value(reg::Root::LocalMachine, key, "UninstallString", reg::View::Wow64_32),
              "<none>");
}

TEST_F(SessionMethodsTest, ARunAfterRestartRunsOnceAndUndoRemovesIt) {
    const std::string runOnce = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
    EXPECT_EQ(CallMethod(bridge, "runAfterReboot", {"Install"}).hr, S_OK);
    EXPECT_EQ(Value(reg::Root::LocalMachine, runOnce, "Brindlemark_24", reg::View::Wow64_64),
              "\"\" RESUME=Install");  // started without shortcut=
    const std::string entry = work / "config dir/autostart/Brindlemark_24.desktop";
    ASSERT_TRUE(stdfs::exists(entry));
    EXPECT_NE(stubtest::ReadFile(entry).find("\nNoDisplay=true\n"), std::string::npos);
    EXPECT_EQ(CallMethod(bridge, "undoRunAfterReboot", {}).hr, S_OK);
    EXPECT_EQ(Value(reg::Root::LocalMachine, runOnce, "Brindlemark_24", reg::View::Wow64_64),
              "<none>");
    EXPECT_FALSE(stdfs::exists(entry));

    // What the session runs: the entry goes first, then the command, once.
    const std::string program = work / "100% sure $HOME `x` 'y'/run";
    stdfs::create_directories(stdfs::path(program).parent_path());
    stdfs::copy_file(stubtest::Sandbox::BinPath("stub-test-exit"), program);
    stubtest::ScopedEnv record("STUB_TEST_EXIT_RECORD", work / "ran");
    ASSERT_TRUE(platform::session::SetRunOnce("Brindlemark_24",
                                              "\"" + program + "\" 0 RESUME=Install \"a b\\c\""));
    const std::vector<std::string> arguments = ExecArguments(stubtest::ReadFile(entry));
    ASSERT_GE(arguments.size(), 5u);
    EXPECT_EQ(arguments[3], entry);
    EXPECT_EQ(arguments[4], program);
    EXPECT_EQ(RunArguments(arguments), 0);
    EXPECT_EQ(stubtest::ReadFile(work / "ran"), "0 RESUME=Install a b\\c\n");
    EXPECT_FALSE(stdfs::exists(entry));
}

// A system user stands in for the one at the desktop; a tmpfs over their
// home, in a mount namespace of the test's thread alone, leaves the real one
// untouched.
struct OtherUsersAutostart {
    bool mounted = false;
    bool plantedLinkRefused = false;
    bool nothingWrittenThroughIt = false;
    bool written = false;
    struct stat folder {};
    struct stat entry {};
    bool removed = false;
};

OtherUsersAutostart WriteAutostartFor(const passwd& user) {
    OtherUsersAutostart outcome;
    const std::string home = user.pw_dir;
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", home.c_str(), "tmpfs", 0, "mode=0755") != 0) {
        return outcome;
    }
    outcome.mounted = true;
    const std::string config = home + "/.config";
    const std::string rootOnly = home + "/root-only";  // they may look, not write
    mkdir(rootOnly.c_str(), 0755);
    mkdir(config.c_str(), 0755);
    chown(home.c_str(), user.pw_uid, user.pw_gid);
    chown(config.c_str(), user.pw_uid, user.pw_gid);
    const std::string autostart = config + "/autostart";
    symlink(rootOnly.c_str(), autostart.c_str());
    lchown(autostart.c_str(), user.pw_uid, user.pw_gid);
    outcome.plantedLinkRefused =
        !platform::session::SetRunOnce("Brindlemark_24", "/opt/b RESUME=x");
    outcome.nothingWrittenThroughIt = stdfs::is_empty(rootOnly);

    unlink(autostart.c_str());
    outcome.written = platform::session::SetRunOnce("Brindlemark_24", "/opt/b RESUME=x");
    const std::string entry = platform::session::RunOnceEntryPath("Brindlemark_24");
    stat(autostart.c_str(), &outcome.folder);
    stat(entry.c_str(), &outcome.entry);
    platform::session::RemoveRunOnce("Brindlemark_24");
    outcome.removed = entry == autostart + "/Brindlemark_24.desktop" && !stdfs::exists(entry);
    return outcome;
}

TEST(SessionServiceTest, AnotherDesktopUsersEntryIsTheirsAndFollowsNoLinkOfTheirs) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to act for another user";
    }
    const passwd* found = nullptr;
    for (const char* name : {"www-data", "backup", "man", "games"}) {
        found = getpwnam(name);
        if (found != nullptr && found->pw_uid != 0 && stdfs::is_directory(found->pw_dir)) {
            break;
        }
        found = nullptr;
    }
    if (found == nullptr) {
        GTEST_SKIP() << "no system user with a home folder here";
    }
    const passwd user = *found;
    const stubtest::ScopedEnv desktop("SUDO_UID", std::to_string(user.pw_uid));
    const stubtest::ScopedEnv pkexec("PKEXEC_UID", "");
    OtherUsersAutostart outcome;
    std::thread([&] { outcome = WriteAutostartFor(user); }).join();
    if (!outcome.mounted) {
        GTEST_SKIP() << "no tmpfs can be mounted here";
    }
    EXPECT_TRUE(outcome.plantedLinkRefused);
    EXPECT_TRUE(outcome.nothingWrittenThroughIt);
    ASSERT_TRUE(outcome.written);
    EXPECT_EQ(outcome.folder.st_uid, user.pw_uid);
    EXPECT_EQ(outcome.folder.st_mode & 07777, 0700u);
    EXPECT_EQ(outcome.entry.st_uid, user.pw_uid);
    EXPECT_EQ(outcome.entry.st_mode & 07777, 0600u);
    EXPECT_TRUE(outcome.removed);
}

}  // namespace
