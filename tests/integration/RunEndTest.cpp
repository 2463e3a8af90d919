// Every way a run can end leaves the machine as a closed window does: end
// signals, a page that never comes or has gone, a working copy that cannot
// start where it was put.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/Sandbox.h"

namespace {

namespace stdfs = std::filesystem;
using Names = std::vector<std::string>;

// Waits for a file to appear, as long as the process runs. No time limit of
// its own: ctest's time-out ends a test that hangs.
bool WaitForFile(const std::string& path, pid_t process) {
    for (;;) {
        if (stdfs::exists(path)) {
            return true;
        }
        if (kill(process, 0) != 0) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

class RunEndTest : public ::testing::Test {
protected:
    RunEndTest() { sandbox_.AddEnvironment("STUB_NO_BROWSER=1 STUB_URL_FILE='" + UrlFile() + "'"); }

    std::string UrlFile() const { return sandbox_.Runtime() + "/page-url"; }

    std::string KeptLog() const {
        const std::vector<std::string> logs = sandbox_.KeptLogs();
        return logs.empty() ? std::string() : logs.back();
    }

    stubtest::Sandbox sandbox_;
};

TEST_F(RunEndTest, EndSignalsCloseTheWindowAndTheNormalEndRuns) {
    for (const int request : {SIGTERM, SIGHUP, SIGINT}) {
        stdfs::remove(UrlFile());
        const pid_t stub = sandbox_.Start("BrindlemarkInstall", "run=1 --ui=external");
        ASSERT_TRUE(WaitForFile(UrlFile(), stub));
        ASSERT_EQ(kill(stub, request), 0);
        EXPECT_EQ(stubtest::Sandbox::Wait(stub), 0) << request;

        // The teardown ran: the page and log folders went, the log was kept.
        EXPECT_EQ(sandbox_.TmpEntries(), Names{"Brindlemark_log"}) << request;
        EXPECT_NE(KeptLog().find("Asked to end by signal " + std::to_string(request)),
                  std::string::npos)
            << KeptLog();
        stdfs::remove_all(sandbox_.Tmp() + "/Brindlemark_log");
    }
}

TEST_F(RunEndTest, TheLauncherPassesTheRequestOnAndCleansUp) {
    const pid_t launcher = sandbox_.Start("BrindlemarkInstall", "--ui=external");
    ASSERT_TRUE(WaitForFile(UrlFile(), launcher));
    ASSERT_EQ(kill(launcher, SIGTERM), 0);
    EXPECT_EQ(stubtest::Sandbox::Wait(launcher), 0);
    // The working copy's folder went with the launcher's end.
    EXPECT_EQ(sandbox_.TmpEntries(), Names{"Brindlemark_log"});
    EXPECT_NE(KeptLog().find("Asked to end by signal 15"), std::string::npos) << KeptLog();
}

TEST_F(RunEndTest, AnExternalWindowWithoutAPageEndsItself) {
    sandbox_.AddEnvironment("STUB_PAGE_CONNECT_SECONDS=1");
    ASSERT_EQ(sandbox_.Run("BrindlemarkInstall", "run=1 --ui=external"), 0);
    EXPECT_NE(KeptLog().find("ERROR] No page has come within 1 s: the window is closed"),
              std::string::npos)
        << KeptLog();
    EXPECT_EQ(sandbox_.TmpEntries(), Names{"Brindlemark_log"});
}

TEST_F(RunEndTest, AnExternalWindowWhosePageHasGoneEndsItself) {
    sandbox_.AddEnvironment("STUB_PAGE_GONE_SECONDS=1");
    const pid_t stub = sandbox_.Start("BrindlemarkInstall", "run=1 --ui=external");
    ASSERT_TRUE(WaitForFile(UrlFile(), stub));
    // A page comes, listens for a moment and goes.
    const std::string page = stubtest::ReadFile(UrlFile());
    const std::string events = page.substr(0, page.find("/pages/")) + "/bridge/events?session=1";
    ASSERT_EQ(std::system(("curl -s -o /dev/null '" + page + "'").c_str()), 0);
    std::system(("curl -s -o /dev/null --max-time 1 '" + events + "'").c_str());
    EXPECT_EQ(stubtest::Sandbox::Wait(stub), 0);
    EXPECT_NE(KeptLog().find("ERROR] The page has been gone for 1 s: the window is closed"),
              std::string::npos)
        << KeptLog();
}

TEST_F(RunEndTest, AWindowThatCannotOpenIsLogged) {
    sandbox_.AddEnvironment("DISPLAY= WAYLAND_DISPLAY=");
    ASSERT_EQ(sandbox_.Run("BrindlemarkInstall", "run=1 --ui=gtk"), 0);
    EXPECT_NE(KeptLog().find("ERROR] The host window (gtk) could not be opened"), std::string::npos)
        << KeptLog();
}

// A temporary folder that runs no programs (mounted noexec).
class NoexecTemp : public RunEndTest {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to mount a noexec folder";
        }
        if (mount("tmpfs", sandbox_.Tmp().c_str(), "tmpfs", MS_NOEXEC, "size=64m,mode=0700") != 0) {
            GTEST_SKIP() << "this machine mounts no tmpfs here";
        }
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) {
            umount2(sandbox_.Tmp().c_str(), MNT_DETACH);
        }
    }

    bool mounted_ = false;
};

TEST_F(NoexecTemp, TheWorkingCopyRunsFromTheRuntimeFolderInstead) {
    sandbox_.AddEnvironment("STUB_PAGE_CONNECT_SECONDS=1");
    ASSERT_EQ(sandbox_.Run("BrindlemarkInstall", "--ui=external"), 0);
    const std::string log = KeptLog();
    EXPECT_NE(log.find("could not start"), std::string::npos) << log;
    EXPECT_NE(log.find("No page has come within 1 s"), std::string::npos) << log;
    // The copy's folder went with it: only the instance lock and the URL stay.
    for (const auto& entry : stdfs::directory_iterator(sandbox_.Runtime())) {
        EXPECT_FALSE(entry.is_directory()) << entry.path();
    }
}

TEST_F(NoexecTemp, WhenNoFolderRunsProgramsTheLauncherFailsWithAReason) {
    // The runtime and cache folders inside the noexec mount too.
    const std::string runtime = sandbox_.Tmp() + "/runtime";
    const std::string cache = sandbox_.Tmp() + "/cache";
    stdfs::create_directories(runtime);
    stdfs::create_directories(cache);
    sandbox_.AddEnvironment("XDG_RUNTIME_DIR='" + runtime + "' XDG_CACHE_HOME='" + cache + "'");
    EXPECT_EQ(sandbox_.Run("BrindlemarkInstall", "--ui=external"), 1);
    const std::string log = KeptLog();
    EXPECT_NE(log.find("No working copy could start; the installer ends"), std::string::npos)
        << log;
    EXPECT_NE(log.find(cache + "/stubframework/"), std::string::npos) << log;
}

}  // namespace
