// The page's package operations end to end below the page: download,
// installer list, size probe, install, remove, repair and the folder search,
// called the way the page calls them, against the release server and real
// packages, with the test thread as the window thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bridge/DownloadMethods.h"
#include "bridge/HtmlExternal.h"
#include "bridge/InstallMethods.h"
#include "core/FileChecksum.h"
#include "core/FrameworkCore.h"
#include "core/RegistryText.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/windowthread.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"
#include "support/ReleaseServer.h"
#include "support/Sandbox.h"
#include "support/TestFolder.h"
#include "support/TestPackages.h"

namespace {

namespace stdfs = std::filesystem;
using namespace stubframework;
using stubtest::RecordingCallback;
using stubtest::ScriptValue;
using PageCall = RecordingCallback::Call;

constexpr LONG kRunning = 10;
constexpr const char* kCode = "{11111111-2222-3333-4444-000000000001}";

std::string Crc(const std::string& path) {
    std::uint32_t crc = 0;
    EXPECT_TRUE(core::FileCrc32(path, crc));
    return std::to_string(crc);
}

class PackageOperationsTest : public ::testing::Test {
protected:
    PackageOperationsTest() : root_("STUB_INSTALL_ROOT", work / "root") {
        server.AddPackage("p.bin", package);
        platform::OpenWindowThread();
    }
    ~PackageOperationsTest() override {
        if (HasFailure()) {
            std::fprintf(stderr, "%s", bridge.LogText().c_str());
        }
        platform::fs::InjectReadOnlyVolumes(false);
        EXPECT_TRUE(bridge.Dispatch().WaitForWorkers(stubtest::kNoTimeLimitMs));
        platform::CloseWindowThread();
    }

    // Calls a worker method with a page function last and pumps the window
    // thread until its final call; every call the page got.
    std::vector<PageCall> Run(const std::string& name, std::vector<ScriptValue> arguments) {
        auto callback = RecordingCallback::Create();
        arguments.emplace_back(static_cast<IDispatch*>(callback.Get()));
        const HRESULT hr = Invoke(name, arguments);
        EXPECT_EQ(hr, S_OK) << name;
        if (hr == S_OK) {
            EXPECT_TRUE(platform::PumpWindowThreadUntil([&] { return callback->Finished(); },
                                                        stubtest::kNoTimeLimitMs));
        }
        return callback->Calls();
    }
    HRESULT Invoke(const std::string& name, const std::vector<ScriptValue>& arguments) {
        switch (arguments.size()) {
            case 2:
                return stubtest::CallMethod(bridge, name, {arguments[0], arguments[1]}).hr;
            case 3:
                return stubtest::CallMethod(bridge, name,
                                            {arguments[0], arguments[1], arguments[2]})
                    .hr;
            case 4:
                return stubtest::CallMethod(
                           bridge, name, {arguments[0], arguments[1], arguments[2], arguments[3]})
                    .hr;
            case 5:
                return stubtest::CallMethod(
                           bridge, name,
                           {arguments[0], arguments[1], arguments[2], arguments[3], arguments[4]})
                    .hr;
            default:
                return stubtest::CallMethod(bridge, name,
                                            {arguments[0], arguments[1], arguments[2], arguments[3],
                                             arguments[4], arguments[5]})
                    .hr;
        }
    }
    std::vector<PageCall> Download(const std::string& url, const std::string& crc, bool resume) {
        return Run("download", {url, target, crc, false, resume});
    }
    // The final call: exactly one, and the last.
    static std::vector<LONG> Final(const std::vector<PageCall>& calls) {
        int finals = 0;
        for (const PageCall& call : calls) {
            finals += call.arguments.at(0) != kRunning ? 1 : 0;
        }
        EXPECT_EQ(finals, 1);
        return calls.empty() ? std::vector<LONG>{} : calls.back().arguments;
    }
    std::string Property(const std::string& name) {
        return bridge.Framework().Core().Properties().Get(name);
    }
    void SetProperty(const std::string& name, const std::string& value) {
        bridge.Framework().Core().Properties().Set(name, value);
    }
    bool Logged(const std::string& text) {
        return bridge.LogText().find(text) != std::string::npos;
    }

    stubtest::BridgeFixture bridge;
    stubtest::ReleaseServer server;
    stubtest::TestFolder work;
    stubtest::ScopedEnv root_;
    std::string package = stubtest::PackageBytes(2 * 1048576 + 300);
    std::string target = work / "p.bin";
};

TEST_F(PackageOperationsTest, DownloadTakesAFileAlreadyThereOnlyWhenItsChecksumAgrees) {
    stubtest::WriteFile(target, package);
    const std::string crc = Crc(target);
    // The package is already there: one call, no request.
    server.ResetStats();
    std::vector<PageCall> calls = Download(server.Url("p.bin"), crc, true);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(Final(calls), (std::vector<LONG>{0, 1, 0}));
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(Logged("File " + target + " exists"));

    // Another file without resuming: fetched again, whole.
    stubtest::WriteFile(target, "something else");
    calls = Download(server.Url("p.bin"), crc, false);
    EXPECT_EQ(Final(calls), (std::vector<LONG>{0, 1, 0}));
    EXPECT_GT(calls.size(), 1u);  // progress came first
    EXPECT_TRUE(Logged("File " + target + " crc dismatch"));
    EXPECT_EQ(stubtest::ReadFile(target), package);
    EXPECT_TRUE(Logged("Download " + server.Url("p.bin") + " finished to " + target));
    EXPECT_EQ(Property("downloadTotal"), "1");
    EXPECT_EQ(Property("downloadCurrent"), "0");

    // What arrived is not what the page expects.
    stdfs::remove(target);
    EXPECT_EQ(Final(Download(server.Url("p.bin"), "12345", true)).at(0), 6);
    EXPECT_TRUE(Logged("Downloaded File " + target + " crc dismatch"));
}

TEST_F(PackageOperationsTest, DownloadFailuresGiveTheirCodesAndAStopIsForgottenAfterwards) {
    // A read-only volume: 7, and the server hears nothing.
    platform::fs::InjectReadOnlyVolumes(true);
    server.ResetStats();
    EXPECT_EQ(Final(Download(server.Url("p.bin"), "", true)), (std::vector<LONG>{7, 1, 0}));
    EXPECT_TRUE(server.Requests().empty());
    EXPECT_TRUE(Logged("Download volume is read only " + work.Path() + "/"));
    platform::fs::InjectReadOnlyVolumes(false);

    // A missing package.
    EXPECT_EQ(Final(Download(server.Url("p.bin", "status=404"), "", false)).at(0), 2);
    EXPECT_TRUE(Logged("Download fail, download path : " + target + ", download result : 2"));
    // A dropped connection is resumed. (A block that always arrives corrupt
    // fails after ten attempts: the self-update test in LaunchModesTest.)
    EXPECT_EQ(Final(Download(server.Url("p.bin", "drop=300000"), "", true)).at(0), 0);
    EXPECT_EQ(stubtest::ReadFile(target), package);
    stdfs::remove(target);

    // A transfer that stalls until the page stops it: 5.
    auto callback = RecordingCallback::Create();
    ASSERT_EQ(Invoke("download", {server.Url("p.bin", "stall=100000"), target, "", false, true,
                                  static_cast<IDispatch*>(callback.Get())}),
              S_OK);
    ASSERT_TRUE(platform::PumpWindowThreadUntil(
        [&] {
            for (const PageCall& call : callback->Calls()) {
                if (call.arguments.at(2) > 0) {
                    return true;  // bytes have come
                }
            }
            return false;
        },
        stubtest::kNoTimeLimitMs));
    EXPECT_EQ(stubtest::CallMethod(bridge, "stopDownload", {}).hr, S_OK);
    ASSERT_TRUE(platform::PumpWindowThreadUntil([&] { return callback->Finished(); },
                                                stubtest::kNoTimeLimitMs));
    EXPECT_EQ(Final(callback->Calls()).at(0), 5);
    // The next download starts afresh and resumes what is there.
    EXPECT_EQ(Final(Download(server.Url("p.bin"), "", true)).at(0), 0);
    EXPECT_EQ(stubtest::ReadFile(target), package);
}

TEST_F(PackageOperationsTest, AZipArchiveIsUnpackedAsItArrivesWhenThePageAsks) {
    const std::string setup = stubtest::Sandbox::BinPath("stub-test-exit");
    ASSERT_TRUE(stubtest::BuildTestZip(work / "source.zip", {{"pkg/Setup.EXE", setup}}));
    server.AddPackage("bundle.ZIP", stubtest::ReadFile(work / "source.zip"));
    const std::string archive = work / "bundle.zip";

    // Only downloaded while the page wants the download alone.
    SetProperty("__Extract_In_Download__", "true");
    SetProperty("isDownloadOnly", "true");
    EXPECT_EQ(Final(Run("download", {server.Url("bundle.ZIP"), archive, "", false, true})).at(0),
              0);
    EXPECT_EQ(Property(archive + "__ZIP_Unzip_Folder__"), "");

    SetProperty("isDownloadOnly", "false");
    stdfs::remove(archive);
    const std::vector<PageCall> calls =
        Run("download", {server.Url("bundle.ZIP"), archive, "", false, true});
    EXPECT_EQ(Final(calls).at(0), 0);
    const std::string folder = Property(archive + "__ZIP_Unzip_Folder__");
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(Property(archive + "__ZIP_EXE_Path__"), folder + "pkg/");
    EXPECT_TRUE(stdfs::exists(folder + "pkg/Setup.EXE"));
    EXPECT_EQ(Property("__Extract_ZIP_In_Download_Progress__"), "false");
    std::string recorded;
    EXPECT_TRUE(core::ReadRegistryText(
        bridge.Framework().Core().RegistryBase() + "\\ResumeRecord\\ExtractFolders",
        archive + "__ZIP_Unzip_Folder__", recorded));
    EXPECT_EQ(recorded, folder);
    // The bar ends full: the last progress call shows the whole download.
    ASSERT_GE(calls.size(), 2u);
    const std::vector<LONG>& last = calls[calls.size() - 2].arguments;
    EXPECT_EQ(last[0], kRunning);
    EXPECT_EQ(last[1], last[2]);

    // Installed from where it was unpacked: Setup.EXE in any case, made runnable.
    stubtest::ScopedEnv record("STUB_TEST_EXIT_RECORD", work / "ran");
    EXPECT_EQ(Final(Run("install", {archive, "0 from-zip", 0})).at(0), 0);
    EXPECT_NE(stubtest::ReadFile(work / "ran").find("0 from-zip"), std::string::npos);
}

TEST_F(PackageOperationsTest, TheInstallerListReplacesItsFileOnlyWhenWhole) {
    EXPECT_EQ(InstallerListDownloadPath("/var/tmp/user.1000/list.js"),
              "/var/tmp/user.1000/list__NEW_FILE__.js");
    EXPECT_EQ(InstallerListDownloadPath("/var/tmp/user.1000/list"),
              "/var/tmp/user.1000/list__NEW_FILE__");
    EXPECT_EQ(InstallerListDownloadPath("a.b.c"), "a.b__NEW_FILE__.c");

    server.AddPackage("list.js", "var list = [];\n");
    const std::string list = work / "list.js";
    stubtest::WriteFile(list, "old");
    EXPECT_EQ(Final(Run("updateInstallerList", {server.Url("list.js"), list, false, false})).at(0),
              0);
    EXPECT_EQ(stubtest::ReadFile(list), "var list = [];\n");
    EXPECT_FALSE(stdfs::exists(work / "list__NEW_FILE__.js"));
    // A list the server does not have: the old one stays, and no empty part.
    EXPECT_EQ(Final(Run("updateInstallerList", {server.Url("gone.js"), list, false, false})).at(0),
              2);
    EXPECT_EQ(stubtest::ReadFile(list), "var list = [];\n");
    EXPECT_FALSE(stdfs::exists(work / "list__NEW_FILE__.js"));
    // No dot: beside the target all the same, so a failure leaves it whole.
    stubtest::WriteFile(work / "plain", "old plain");
    EXPECT_EQ(
        Final(Run("updateInstallerList", {server.Url("gone"), work / "plain", false, false})).at(0),
        2);
    EXPECT_EQ(stubtest::ReadFile(work / "plain"), "old plain");
    EXPECT_EQ(
        Final(Run("updateInstallerList", {server.Url("list.js"), work / "plain", false, false}))
            .at(0),
        0);
    EXPECT_EQ(stubtest::ReadFile(work / "plain"), "var list = [];\n");
    EXPECT_FALSE(stdfs::exists(work / "plain__NEW_FILE__"));
    // The move fails (a folder holds the name): 4, and nothing half-way stays.
    stdfs::create_directories(work / "held.js/inside");
    EXPECT_EQ(
        Final(Run("updateInstallerList", {server.Url("list.js"), work / "held.js", false, false}))
            .at(0),
        4);
    EXPECT_FALSE(stdfs::exists(work / "held__NEW_FILE__.js"));
}

TEST_F(PackageOperationsTest, SizeProbeAndSelfUpdateCheck) {
    // The size without the body; the temporary file goes. A size past 2 GiB
    // saturates instead of reading negative.
    const std::string big = server.Root() + "/big.bin";
    { std::ofstream(big).close(); }
    stdfs::resize_file(big, 3221225472ULL);  // sparse
    EXPECT_EQ(
        stubtest::CallMethod(bridge, "initDownloadSize", {server.Url("big.bin"), target, false}).hr,
        S_OK);
    EXPECT_EQ(Property("downloadTotal"), "3221225472");
    EXPECT_EQ(bridge.Dispatch().GetProgress(core::kDownloadTotal), 2147483647);
    EXPECT_FALSE(stdfs::exists(target + ".temp"));
    EXPECT_LT(server.SentBytes("/big.bin"), 256 * 1048576);  // not the body

    const auto needs = [&](const std::string& url) {
        const auto call = stubtest::CallMethod(bridge, "isNeedSelfUpdate", {url});
        EXPECT_EQ(call.hr, S_OK);
        return call.Bool();
    };
    EXPECT_FALSE(needs(server.Url("none.exe")));  // no meta file: nothing to compare
    EXPECT_TRUE(Logged("EMIsNeedSelfUpdate Result: not need update"));
    const std::string self = stubtest::ReadFile(platform::process::RunningImagePath());
    server.AddPackage("same.exe", self);
    EXPECT_FALSE(needs(server.Url("same.exe")));
    std::string changed = self;
    changed[changed.size() / 2] ^= 1;
    server.AddPackage("changed.exe", changed);
    EXPECT_TRUE(needs(server.Url("changed.exe")));
    EXPECT_TRUE(Logged("EMIsNeedSelfUpdate Result: need update"));
    EXPECT_EQ(SelfUpdateName("http://h/d/BrindlemarkInstall.exe?x=1", "brindlemarkinstall.EXE"),
              "BrindlemarkInstall_update.exe");
    EXPECT_EQ(SelfUpdateName("http://h/d/New.exe", "BrindlemarkInstall.exe"), "New.exe");
}

TEST_F(PackageOperationsTest, InstallRemoveAndRepairAWindowsInstallerPackage) {
    const std::string msi = stubtest::BuildTestMsi(work.Path(), "1.0.0", kCode);
    ASSERT_FALSE(msi.empty());
    // Not a package kind we install: 2 in one call.
    std::vector<PageCall> calls = Run("install", {work / "patch.msp", "", 0});
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(Final(calls), (std::vector<LONG>{2, 1, 0}));

    calls = Run("install", {msi, "/l*v $LOGFILE$ /qn", 0});
    EXPECT_EQ(Final(calls), (std::vector<LONG>{0, 1, 0}));
    EXPECT_TRUE(stdfs::exists(work / "root/Program Files (x86)/Brindlemark/app.txt"));
    const std::vector<std::string> attached = bridge.Framework().Core().AttachedFiles().Files();
    ASSERT_EQ(attached.size(), 1u);  // the package log; no XML log was written
    EXPECT_EQ(attached[0].rfind(std::string(std::getenv("TMPDIR")) + "/Brindlemark_log/log_", 0),
              0u)
        << attached[0];
    EXPECT_NE(stubtest::ReadFile(attached[0]).find("MSI"), std::string::npos);
    EXPECT_EQ(Property("installTotal"), "1");
    EXPECT_EQ(Property("installCurrent"), "0");

    // Repair and removal through the product code, without braces.
    const std::string bare = std::string(kCode).substr(1, 36);
    calls = Run("repairProgram", {"Brindlemark", bare});
    EXPECT_EQ(calls.back().arguments, (std::vector<LONG>{0}));
    EXPECT_TRUE(Logged("msiexec.exe /f " + std::string(kCode) + " /qn /norestart /l*v \""));
    calls = Run("removeProgram", {"Brindlemark", true, bare});
    EXPECT_EQ(calls.back().arguments, (std::vector<LONG>{0}));
    EXPECT_TRUE(Logged("msiexec.exe /uninstall " + std::string(kCode) + " /qn /norestart /l*v \""));
    EXPECT_FALSE(stdfs::exists(work / "root/Program Files (x86)/Brindlemark/app.txt"));
    EXPECT_TRUE(Logged("UninstallThreadFunc result: 0"));
    // An unknown product.
    calls = Run("removeProgram", {"Brindlemark", true, "{99999999-2222-3333-4444-000000000001}"});
    EXPECT_EQ(calls.back().arguments, (std::vector<LONG>{1}));
    EXPECT_EQ(bridge.Dispatch().LastInstallError(), 1605u);
}

TEST_F(PackageOperationsTest, AVendorUninstallerAndThePassedParameters) {
    const std::string exit = stubtest::Sandbox::BinPath("stub-test-exit");
    const std::string program = work / "vendor.exe";
    stdfs::copy_file(exit, program);
    stubtest::ScopedEnv record("STUB_TEST_EXIT_RECORD", work / "ran");
    // The vendor's own command, given one blank before our switches.
    ASSERT_TRUE(core::WriteRegistryText(
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{ABC}",
        "UninstallString", "\"" + program + "\" 0"));
    EXPECT_EQ(Run("removeProgram", {"Vendor", false, "ABC"}).back().arguments,
              (std::vector<LONG>{0}));
    EXPECT_TRUE(Logged("EMRemoveProgram  uninstallstring : \"" + program + "\" 0"));
    EXPECT_EQ(stubtest::ReadFile(work / "ran").rfind("0 /qn /norestart /l*v ", 0), 0u);

    // The stub's own entry, its copy in a folder whose name holds a blank.
    {
        const stubtest::ScopedEnv blank("STUB_INSTALL_ROOT", work / "root dir");
        ASSERT_EQ(stubtest::CallMethod(bridge, "setUninstallRegistryFromStub", {"DEF", false}).hr,
                  S_OK);
        const std::string copy =
            work / ("root dir/ProgramData/Zelvo/Brindlemark/" +
                    stdfs::path(platform::process::ExecutablePath()).filename().string());
        ASSERT_TRUE(stdfs::exists(copy));
        // The test program stands in for the copy: this binary would run the suite.
        stdfs::copy_file(exit, copy, stdfs::copy_options::overwrite_existing);
        stdfs::remove(work / "ran");
        EXPECT_EQ(Final(Run("removeProgram", {"Brindlemark", false, "DEF"})),
                  (std::vector<LONG>{0}));
        EXPECT_EQ(stubtest::ReadFile(work / "ran").rfind("/uninstall /qn /norestart /l*v ", 0), 0u);
    }

    // A program package: made runnable, given the page's parameters and the
    // launcher's path.
    stdfs::remove(work / "ran");
    const std::string downloaded = work / "prereq.exe";
    stubtest::WriteFile(downloaded, stubtest::ReadFile(exit));
    stdfs::permissions(downloaded, stdfs::perms::owner_read | stdfs::perms::owner_write);
    EXPECT_EQ(Final(Run("install", {downloaded, "0 /norestart $STUBPATH$", 0})).at(0), 0);
    EXPECT_EQ(stubtest::ReadFile(work / "ran"), "0 /norestart \n");  // no shortcut= here: ""
    // The launch-on-exit command gets the run's GUID, in the parameters and
    // in the record a resumed run reads back.
    stdfs::remove(work / "ran");
    bridge.Framework().Core().SetLaunchOnExit("LAUNCH=$GUID$");
    EXPECT_EQ(Final(Run("install", {downloaded, "0 LAUNCH=$GUID$", 0})).at(0), 0);
    std::string guid;
    ASSERT_TRUE(core::ReadRegistryText(bridge.Framework().Core().RegistryBase() + "\\ResumeManager",
                                       "guid", guid));
    EXPECT_EQ(guid.size(), 36u);
    EXPECT_EQ(stubtest::ReadFile(work / "ran"), "0 LAUNCH=" + guid + "\n");
    std::string launch;
    EXPECT_TRUE(core::ReadRegistryText(bridge.Framework().Core().RegistryBase() + "\\ResumeManager",
                                       "launchOnExit", launch));
    EXPECT_EQ(launch, "LAUNCH=" + guid);
    EXPECT_EQ(InstallParameters("/pass", "/norestart", true), "/pass /norestart /qn");
    EXPECT_EQ(ReplaceFirst("a $GUID$ $GUID$", "$GUID$", "g"), "a g $GUID$");
    EXPECT_EQ(ReplaceFirst("a ab", "ab", "x"), "a ab");  // too short to be a placeholder
}

TEST_F(PackageOperationsTest, TheFolderSearchFindsNestedFilesAndCanBeCancelled) {
    stdfs::create_directories(work / "media/a.d/x/setup");
    stdfs::create_directories(work / "media/b/setup");
    stubtest::WriteFile(work / "media/b/setup/setup.exe", "");
    stubtest::WriteFile(work / "media/a.d/x/setup/setup.exe", "");
    stdfs::create_symlink(work / "media", work / "media/b/loop");
    std::vector<PageCall> calls =
        Run("verifyFileInSpecialDirectory", {work / "media", "setup\\setup.exe"});
    EXPECT_EQ(calls.back().arguments, (std::vector<LONG>{0}));
    EXPECT_EQ(Property("PackagePath"), work / "media/a.d/x/");  // name order
    // A folder merely ending in the same letters is no hit.
    std::atomic<bool> active{true};
    EXPECT_EQ(FindCommonFolder(work / "media", "d/x/setup/setup.exe", active), "");
    EXPECT_EQ(FindCommonFolder(work / "media/", "b/setup/setup.exe", active), work / "media/");
    calls = Run("verifyFileInSpecialDirectory", {work / "media", "missing.exe"});
    EXPECT_EQ(calls.back().arguments, (std::vector<LONG>{4}));
    EXPECT_EQ(Property("PackagePath"), "");
    active = false;
    EXPECT_EQ(FindCommonFolder(work / "media", "missing.exe", active), "");
    EXPECT_EQ(stubtest::CallMethod(bridge, "cancelVerifyThread", {}).hr, S_OK);
    EXPECT_TRUE(Logged("EMCancelVerifyThread Finish"));
}

}  // namespace
