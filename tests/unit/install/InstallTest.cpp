// The install engine with real packages: MSI files built by wixl, programs,
// ZIP packages, and removal and repair through the msiexec stand-in.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "bridge/HtmlExternal.h"
#include "core/RegistryText.h"
#include "install/Installers.h"
#include "platform/msi.h"
#include "support/BridgeFixture.h"
#include "support/Sandbox.h"
#include "support/TestFolder.h"
#include "support/TestPackages.h"

namespace {

namespace stdfs = std::filesystem;
using namespace stubframework;
using core::kInstallCurrent;
using core::kInstallTotal;

constexpr const char* kCode1 = "{11111111-2222-3333-4444-000000000001}";
constexpr const char* kCode2 = "{11111111-2222-3333-4444-000000000002}";
constexpr const char* kCode3 = "{11111111-2222-3333-4444-000000000003}";

bool Shell(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

class InstallTest : public ::testing::Test {
protected:
    InstallTest() : root_("STUB_INSTALL_ROOT", work / "root") {}

    // A package of one product version: app.txt and docs/readme.txt.
    std::string BuildMsi(const std::string& version, const std::string& code,
                         const std::string& extra = "") {
        return stubtest::BuildTestMsi(work.Path(), version, code, extra);
    }

    std::string Installed(const std::string& relative) const {
        return work / ("root/Program Files (x86)/Brindlemark/" + relative);
    }
    std::string Recorded(const std::string& code, const std::string& name) const {
        std::string value;
        core::ReadRegistryText(
            "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + code,
            name, value);
        return value;
    }
    std::int32_t Progress(const char* name) { return bridge.Dispatch().GetProgress(name); }
    std::string Log() { return bridge.LogText(); }

    stubtest::BridgeFixture bridge;
    stubtest::TestFolder work;
    stubtest::ScopedEnv root_;
};

TEST_F(InstallTest, InstallsSilentlyWithOnePropertyAndRecordsTheProduct) {
    const std::string package = BuildMsi("1.0.0", kCode1);
    EXPECT_EQ(core::InstallMsi(bridge.Dispatch(), package, "/qn PROPERTY=1"), ErrorHandle::NoError);
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), "app 1.0.0\n");
    EXPECT_EQ(stubtest::ReadFile(Installed("docs/readme.txt")).size(), 4000u);
    EXPECT_EQ(Recorded(kCode1, "DisplayVersion"), "1.0.0");
    EXPECT_EQ(Recorded(kCode1, "DisplayName"), "Brindlemark Test");
    // The handler saw the resets and the progress: the total is the files' size, all done.
    EXPECT_EQ(Progress(kInstallTotal), 4000 + 10);
    EXPECT_EQ(Progress(kInstallCurrent), Progress(kInstallTotal));
    EXPECT_NE(Log().find("InstallMsi " + package + ", parameter:  PROPERTY=1\r\n"),
              std::string::npos)
        << Log();
    EXPECT_NE(Log().find("InstallMsi " + package + ", return 0"), std::string::npos);
    EXPECT_EQ(bridge.Dispatch().LastInstallError(), 0u);
}

TEST_F(InstallTest, LogSwitchesGoAndTheLogLandsInTheProductLogFolder) {
    const std::string package = BuildMsi("1.0.0", kCode1);
    EXPECT_EQ(core::InstallMsi(bridge.Dispatch(), package, "/l*v $LOGFILE$ /QB!"),
              ErrorHandle::NoError);
    EXPECT_NE(Log().find("parameter:   \r\n"), std::string::npos) << Log();
    const std::string folder = stdfs::temp_directory_path().string() + "/Brindlemark_log";
    std::string log;
    for (const auto& item : stdfs::directory_iterator(folder)) {
        if (item.path().filename().string().rfind("log_", 0) == 0) {
            log = stubtest::ReadFile(item.path().string());
        }
    }
    EXPECT_NE(log.find("Installation success or error status: 0."), std::string::npos) << log;

    // "/qnx" is not the no-UI switch, but it goes from the command line all the same.
    core::InstallMsi(bridge.Dispatch(), package, "/qnx PROPERTY=2");
    EXPECT_NE(Log().find("parameter:  PROPERTY=2\r\n"), std::string::npos);
    EXPECT_EQ(Progress(kInstallTotal), 1) << "no progress reaches a handler without a filter";
}

TEST_F(InstallTest, RemovalAndRepairThroughTheStandIn) {
    const std::string package = BuildMsi("1.0.0", kCode1);
    ASSERT_EQ(core::InstallMsi(bridge.Dispatch(), package, "/qn"), ErrorHandle::NoError);
    stdfs::remove(Installed("app.txt"));
    stubtest::WriteFile(Installed("docs/readme.txt"), "changed");
    const std::string logs = work / "logs";
    stdfs::create_directories(logs);
    EXPECT_EQ(core::RunUninstall(bridge.Dispatch(), std::string("msiexec.exe /f ") + kCode1 +
                                                        " /qn /norestart /l*v \"" + logs +
                                                        "/repair_1.log\""),
              ErrorHandle::NoError);
    // The missing file is back; the one the user changed stays theirs.
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), "app 1.0.0\n");
    EXPECT_EQ(stubtest::ReadFile(Installed("docs/readme.txt")), "changed");

    EXPECT_EQ(core::RunUninstall(bridge.Dispatch(), std::string("msiexec.exe /uninstall ") +
                                                        kCode1 + " /qn /norestart /l*v \"" + logs +
                                                        "/remove_1.log\""),
              ErrorHandle::NoError);
    EXPECT_FALSE(stdfs::exists(Installed("")));
    EXPECT_TRUE(stdfs::exists(work / "root/Program Files (x86)"))
        << "removal climbed out of its folder";
    EXPECT_EQ(Recorded(kCode1, "DisplayVersion"), "");
    EXPECT_NE(stubtest::ReadFile(logs + "/remove_1.log").find("Removal completed successfully"),
              std::string::npos);
    EXPECT_EQ(Progress(kInstallCurrent), 150);

    // The switches as Add/Remove entries and restart-minded callers write them.
    ASSERT_EQ(core::RunUninstall(bridge.Dispatch(),
                                 "msiexec.exe /i \"" + package + "\" /qn /forcerestart"),
              ErrorHandle::NoError);
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), "app 1.0.0\n");
    EXPECT_EQ(
        core::RunUninstall(bridge.Dispatch(), std::string("msiexec.exe /X") + kCode1 + " /qn"),
        ErrorHandle::NoError);
    EXPECT_FALSE(stdfs::exists(Installed("")));

    // The product is gone now: 1605 reaches us whole and is no known result.
    EXPECT_EQ(
        core::RunUninstall(bridge.Dispatch(), std::string("msiexec.exe /x ") + kCode1 + " /qn"),
        ErrorHandle::UnknowError);
    EXPECT_EQ(bridge.Dispatch().LastInstallError(), 1605u);
}

// The upgrade rule of the test packages: older versions go, a newer one
// refuses the installation with its message.
constexpr const char* kMajorUpgrade =
    R"(<MajorUpgrade DowngradeErrorMessage="A newer Brindlemark is already installed."/>)";

TEST_F(InstallTest, TheUpgradeTableDecidesWhatHappensToOtherVersions) {
    // Without an upgrade rule two versions live side by side.
    ASSERT_EQ(core::InstallMsi(bridge.Dispatch(), BuildMsi("1.0.0", kCode1), "/qn"),
              ErrorHandle::NoError);
    const std::string elsewhere = work / "root/Elsewhere";
    ASSERT_EQ(core::InstallMsi(bridge.Dispatch(), BuildMsi("1.5.0", kCode2),
                               "/qn INSTALLDIR=\"" + elsewhere + "\""),
              ErrorHandle::NoError);
    EXPECT_EQ(Recorded(kCode1, "DisplayVersion"), "1.0.0");
    EXPECT_EQ(Recorded(kCode2, "DisplayVersion"), "1.5.0");
    EXPECT_EQ(stubtest::ReadFile(elsewhere + "/app.txt"), "app 1.5.0\n");

    // With one, a newer version replaces both, and an older one is refused
    // with the package's message.
    ASSERT_EQ(core::InstallMsi(bridge.Dispatch(), BuildMsi("2.0.0", kCode3, kMajorUpgrade), "/qn"),
              ErrorHandle::NoError);
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), "app 2.0.0\n");
    EXPECT_EQ(stubtest::ReadFile(Installed("docs/readme.txt")).size(), 4000u);
    EXPECT_FALSE(stdfs::exists(elsewhere)) << "the older product's files stayed";
    EXPECT_EQ(Recorded(kCode1, "DisplayVersion"), "");
    EXPECT_EQ(Recorded(kCode2, "DisplayVersion"), "");
    EXPECT_EQ(Recorded(kCode3, "DisplayVersion"), "2.0.0");
    EXPECT_EQ(Progress(kInstallCurrent), Progress(kInstallTotal));
    EXPECT_EQ(Progress(kInstallTotal), 4000 + 10);

    EXPECT_EQ(core::InstallMsi(bridge.Dispatch(), BuildMsi("1.0.0", kCode1, kMajorUpgrade), "/qn"),
              ErrorHandle::Failure);
    EXPECT_EQ(bridge.Dispatch().LastInstallError(), 1603u);
    EXPECT_EQ(stubtest::ReadFile(Installed("app.txt")), "app 2.0.0\n");
    EXPECT_EQ(Recorded(kCode1, "DisplayVersion"), "");
}

TEST_F(InstallTest, PackagesWhoseNamesLeaveTheirFolderAreRefused) {
    const std::string package = BuildMsi("1.0.0", kCode1);
    // The same package with its folder named "..", rewritten with msibuild.
    ASSERT_TRUE(Shell("cd '" + work.Path() + "' && msiinfo export '" + package +
                      "' Directory > dir.idt && cp '" + package + "' evil.msi"));
    std::string table = stubtest::ReadFile(work / "dir.idt");
    const std::size_t name = table.find("\tBrindlemark");
    ASSERT_NE(name, std::string::npos);
    table.replace(name, 12, "\t..");
    stubtest::WriteFile(work / "dir.idt", table);
    ASSERT_TRUE(Shell("cd '" + work.Path() + "' && msibuild evil.msi -i dir.idt"));
    EXPECT_EQ(core::InstallMsi(bridge.Dispatch(), work / "evil.msi", "/qn"),
              ErrorHandle::UnknowError);
    EXPECT_EQ(bridge.Dispatch().LastInstallError(), 1620u);
    EXPECT_FALSE(stdfs::exists(work / "root/app.txt"));
}

TEST_F(InstallTest, ResultCodesOfProgramsAndTheInstallLock) {
    const std::string exit = stubtest::Sandbox::BinPath("stub-test-exit");
    const std::vector<std::pair<std::uint32_t, ErrorHandle>> table = {
        {0, ErrorHandle::NoError},       {1602, ErrorHandle::Cancelled},
        {1603, ErrorHandle::Failure},    {1618, ErrorHandle::OtherInstalling},
        {1641, ErrorHandle::Reboot},     {3010, ErrorHandle::Reboot},
        {1605, ErrorHandle::UnknowError}};
    for (const auto& [code, result] : table) {
        EXPECT_EQ(core::InstallExe(bridge.Dispatch(), exit, std::to_string(code), 0), result)
            << code;
        EXPECT_EQ(bridge.Dispatch().LastInstallError(), code);
    }
    EXPECT_EQ(core::InstallExe(bridge.Dispatch(), work / "missing.exe", "", 0),
              ErrorHandle::Failure);
    EXPECT_NE(Log().find("Install \"" + work / "missing.exe" + "\" , CreateProcessW failed"),
              std::string::npos);

    // Another installation holding the machine-wide lock.
    const std::string package = BuildMsi("1.0.0", kCode1);
    {
        const platform::msi::InstallLock other;
        ASSERT_TRUE(other.Held());
        EXPECT_EQ(core::InstallMsi(bridge.Dispatch(), package, "/qn"),
                  ErrorHandle::OtherInstalling);
    }
    // A package that asks for a restart.
    const std::string restart = BuildMsi("3.0.0", "{11111111-2222-3333-4444-000000000003}",
                                         R"(<Property Id="REBOOT" Value="Force"/>)");
    EXPECT_EQ(core::InstallMsi(bridge.Dispatch(), restart, "/qn"), ErrorHandle::Reboot);
}

TEST_F(InstallTest, PackagePropertiesByQuery) {
    using platform::msi::QueryProperty;
    const std::string package = BuildMsi("1.2.3", kCode1);
    std::string value;
    EXPECT_TRUE(QueryProperty(package, "ProductVersion", value));
    EXPECT_EQ(value, "1.2.3");
    EXPECT_TRUE(QueryProperty(package, "ProductCode", value));
    EXPECT_EQ(value, kCode1);
    EXPECT_FALSE(QueryProperty(package, "NoSuchProperty", value));
    EXPECT_FALSE(QueryProperty(package, "x' OR Property <> '", value));

    // A package of a Property table alone; readers take 255 characters.
    const std::string bare = work / "bare.msi";
    EXPECT_TRUE(Shell("msibuild '" + bare +
                      "' -q 'CREATE TABLE Property (Property CHAR(72) NOT NULL, Value LONGCHAR "
                      "NOT NULL PRIMARY KEY Property)'"
                      " -q \"INSERT INTO Property (Property, Value) VALUES ('Version', '2.5')\""
                      " -q \"INSERT INTO Property (Property, Value) VALUES ('Long', '" +
                      std::string(300, 'v') + "')\""));
    EXPECT_TRUE(QueryProperty(bare, "Version", value));
    EXPECT_EQ(value, "2.5");
    EXPECT_TRUE(QueryProperty(bare, "Long", value));
    EXPECT_EQ(value, std::string(255, 'v'));
    EXPECT_FALSE(platform::msi::ReadPackageProperty(bare, "Version", value));

    stubtest::WriteFile(work / "text.msi", "not a package");
    value = "kept";
    EXPECT_FALSE(QueryProperty(work / "text.msi", "Version", value));
    EXPECT_FALSE(QueryProperty(work / "missing.msi", "Version", value));
    EXPECT_EQ(value, "kept");
}

// Runs `work` on a thread; it runs a program that ends once the file
// `release` exists, which is made when "installCurrent" has reached
// `reached`. The highest value seen short of the total, and whether the bar
// was full before the program was let go.
struct BarSeen {
    std::int32_t highest = 0;
    bool fullEarly = false;
};

template <class Work>
BarSeen WatchBarUntil(core::HtmlExternal& host, const std::string& release, std::int32_t reached,
                      Work work) {
    host.SetProgress(kInstallCurrent, 0);
    std::atomic<bool> done{false};
    BarSeen seen;
    std::thread runner([&] {
        work();
        done = true;
    });
    bool released = false;
    while (!done) {
        const std::int32_t current = host.GetProgress(kInstallCurrent);
        const std::int32_t total = host.GetProgress(kInstallTotal);
        if (current < total) {
            seen.highest = std::max(seen.highest, current);
        } else if (!released && total > 1) {
            seen.fullEarly = true;
        }
        if (!released && seen.highest >= reached) {
            stubtest::WriteFile(release, "");
            released = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    runner.join();
    std::filesystem::remove(release);
    return seen;
}

// The bar's pace is a tenth of a second a step; what the tests hold to is
// its bounds, which no load on the machine can move.
TEST_F(InstallTest, EstimatedAndTimedProgress) {
    const std::string exit = stubtest::Sandbox::BinPath("stub-test-exit");
    const std::string release = work / "release";
    const std::string waiting = "0 --until \"" + release + "\"";
    core::HtmlExternal& host = bridge.Dispatch();
    // 30 s estimated: a bar of 300 tenths that moves while the program runs.
    BarSeen seen = WatchBarUntil(host, release, 3,
                                 [&] { core::InstallExe(bridge.Dispatch(), exit, waiting, 30); });
    EXPECT_EQ(Progress(kInstallTotal), 300);
    EXPECT_FALSE(seen.fullEarly);
    EXPECT_GE(seen.highest, 3);
    EXPECT_EQ(Progress(kInstallCurrent), 300);
    // A program that runs past its estimate waits one short of the end.
    seen = WatchBarUntil(host, release, 9,
                         [&] { core::InstallExe(bridge.Dispatch(), exit, waiting, 1); });
    EXPECT_EQ(seen.highest, 9);
    EXPECT_FALSE(seen.fullEarly);
    EXPECT_EQ(Progress(kInstallCurrent), 10);
    // Removal: a bar of 150 steps, full only at the end.
    seen = WatchBarUntil(host, release, 2, [&] {
        core::RunUninstall(bridge.Dispatch(), "\"" + exit + "\" " + waiting);
    });
    EXPECT_GE(seen.highest, 2);
    EXPECT_FALSE(seen.fullEarly);
    EXPECT_EQ(Progress(kInstallTotal), 150);
    EXPECT_EQ(Progress(kInstallCurrent), 150);
}

TEST_F(InstallTest, ZipPackagesRunTheirSetupAndTidyUp) {
    const std::string source = work / "zip";
    stdfs::create_directories(source + "/tools/bin");
    stdfs::copy_file(stubtest::Sandbox::BinPath("stub-test-exit"), source + "/tools/bin/setup.exe");
    ASSERT_TRUE(Shell("cd " + source + " && zip -qr ../package.zip tools"));
    const stubtest::ScopedEnv record("STUB_TEST_EXIT_RECORD", work / "ran.txt");
    EXPECT_EQ(core::InstallZip(bridge.Dispatch(), work / "package.zip", "0 0 --flag", 0),
              ErrorHandle::NoError);
    EXPECT_EQ(stubtest::ReadFile(work / "ran.txt"), "0 0 --flag\n");
    std::vector<std::string> left;
    for (const auto& item : stdfs::directory_iterator(stdfs::temp_directory_path())) {
        left.push_back(item.path().filename().string());
    }
    for (const std::string& name : left) {
        EXPECT_TRUE(name.find('.') != std::string::npos || name.find("_log") != std::string::npos ||
                    !stdfs::exists(stdfs::temp_directory_path() / name / "tools"))
            << "the unzip folder was left: " << name;
    }

    stubtest::WriteFile(work / "readme.txt", "no setup here");
    ASSERT_TRUE(Shell("cd " + work.Path() + " && zip -q nosetup.zip readme.txt"));
    stdfs::remove(work / "ran.txt");
    EXPECT_EQ(core::InstallZip(bridge.Dispatch(), work / "nosetup.zip", "", 0),
              ErrorHandle::FileNotExist);
    EXPECT_FALSE(stdfs::exists(work / "ran.txt"));
}

TEST(MsiProgressTest, TheSecondResetSetsTheTotal) {
    stubtest::BridgeFixture bridge;
    core::HtmlExternal& host = bridge.Dispatch();
    host.SetProgress(kInstallTotal, 1);
    host.SetProgress(kInstallCurrent, 0);
    core::MsiProgress progress(host.InstallBar());
    progress.Parse("1: 2 2: 50 3: 0 ");  // before any reset: ignored
    progress.Parse("1: 0 2: 999 3: 0 4: 0 ");
    EXPECT_EQ(host.GetProgress(kInstallTotal), 1);
    progress.Parse("1: 0 2: 1000 3: 0 4: 1 ");
    EXPECT_EQ(host.GetProgress(kInstallTotal), 1000);
    progress.Parse("1: 1 2: 25 3: 1 ");
    EXPECT_EQ(host.GetProgress(kInstallTotal), 1025);
    progress.Parse("1: 1 2: 25 3: 0 ");
    progress.Parse("1: 2 2: 300 3: 0 ");
    progress.Parse("1: 2 2: 25 5: 7 3: 9");  // label 5 ends the reading
    EXPECT_EQ(host.GetProgress(kInstallTotal), 1025);
    EXPECT_EQ(host.GetProgress(kInstallCurrent), 325);
    progress.Parse("garbage");
    progress.Parse("1: 2");  // no field 2: counts as 0
    EXPECT_EQ(host.GetProgress(kInstallCurrent), 325);
}

TEST(SwitchTest, HasAndRemoveSwitch) {
    EXPECT_TRUE(core::HasSwitch("/qn PROP=1", "/QN"));
    EXPECT_FALSE(core::HasSwitch("/qnx PROP=1", "/QN"));
    EXPECT_TRUE(core::HasSwitch("A=1 /QB!", "/qb!"));
    EXPECT_EQ(core::RemoveSwitch("/qn PROP=1", "/qn"), " PROP=1");
    EXPECT_EQ(core::RemoveSwitch("/L*V \"$LOGFILE$\" X=1", "/l"), " \"$LOGFILE$\" X=1");
    EXPECT_EQ(core::RemoveSwitch("A=1 /qn B=2 /QN", "/qn"), "A=1  B=2 ");
    // A path inside a value keeps its "/l...".
    EXPECT_EQ(core::RemoveSwitch("INSTALLDIR=/usr/local/app /l*v x", "/l"),
              "INSTALLDIR=/usr/local/app  x");
    EXPECT_EQ(core::RemoveSwitch("INSTALLDIR=\"/local/app\" /qn", "/l"),
              "INSTALLDIR=\"/local/app\" /qn");
}

}  // namespace
