// The package and launch methods as a page calls them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bridge/HtmlExternal.h"
#include "core/FrameworkCore.h"
#include "core/RegistryText.h"
#include "platform/process.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"

namespace {

using stubtest::CallMethod;
using Arguments = std::vector<std::string>;

// The texts of the log lines, without their time and level, joined by " | ".
std::string Texts(const std::string& log) {
    std::string texts;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find('\n', start);
        if (end == std::string::npos) {
            end = log.size();
        }
        std::string line = log.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const std::size_t text = line.find("] ");
        if (!texts.empty()) {
            texts += " | ";
        }
        texts += text == std::string::npos ? line : line.substr(text + 2);
        start = end + 1;
    }
    return texts;
}

// "/a/b" as a page on Windows would write it.
std::string PageSpelling(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class PackageMethodsTest : public ::testing::Test {
protected:
    std::string RegistryStatus() {
        std::string text;
        stubframework::core::ReadRegistryText(bridge_.Framework().Core().RegistryBase(), "status",
                                              text);
        return text;
    }

    stubtest::BridgeFixture bridge_;
    stubtest::TestFolder scratch_;
};

TEST_F(PackageMethodsTest, CrcIsThatOfTheWholeFileOrZero) {
    const std::string file = scratch_ / "package.msi";
    stubtest::WriteFile(file, "123456789");
    const auto crc = CallMethod(bridge_, "getCrc", {PageSpelling(file)});
    EXPECT_EQ(crc.hr, S_OK);
    EXPECT_EQ(crc.Text(), "3421780262");
    EXPECT_EQ(Texts(crc.log), "EMGetCRC | EMGetCRC args " + file + ", Result 3421780262");

    const auto missing = CallMethod(bridge_, "getCrc", {scratch_ / "none.msi"});
    EXPECT_EQ(missing.Text(), "0");
    EXPECT_THAT(missing.log, ::testing::HasSubstr("Result 0\r\n"));
    EXPECT_EQ(CallMethod(bridge_, "getCrc", {scratch_.Path()}).Text(), "0");
}

TEST_F(PackageMethodsTest, InstallStatusAcceptsUpToSeventy) {
    const auto accepted = CallMethod(bridge_, "setInstallStatus", {70});
    EXPECT_EQ(accepted.hr, S_OK);
    EXPECT_EQ(Texts(accepted.log), "EMSetInstallStatus: 70");
    EXPECT_EQ(bridge_.Framework().Core().Status(), 70);
    EXPECT_EQ(RegistryStatus(), "70");

    // Negative numbers are out of range too: the bound is unsigned.
    for (const int status : {71, -1}) {
        const auto refused = CallMethod(bridge_, "setInstallStatus", {status});
        EXPECT_EQ(refused.hr, STG_E_INVALIDPARAMETER) << status;
        EXPECT_EQ(refused.log, "") << status;
        EXPECT_EQ(bridge_.Framework().Core().Status(), 70) << status;
        EXPECT_EQ(RegistryStatus(), "70") << status;
    }
}

TEST_F(PackageMethodsTest, LastInstallErrorIsTheInstallEnginesCode) {
    const auto none = CallMethod(bridge_, "getLastInstallError", {});
    EXPECT_EQ(none.value.vt, VT_UI4);
    EXPECT_EQ(none.UInt(), 0u);
    EXPECT_EQ(Texts(none.log), "EMGetLastInstallError | EMGetLastInstallError ErrorCode: 0");

    bridge_.Dispatch().SetLastInstallError(1603);
    EXPECT_EQ(CallMethod(bridge_, "getLastInstallError", {}).UInt(), 1603u);
    // An HRESULT comes back whole, and is logged as the 32-bit number it is.
    bridge_.Dispatch().SetLastInstallError(0x80070005u);
    const auto denied = CallMethod(bridge_, "getLastInstallError", {});
    EXPECT_EQ(denied.UInt(), 0x80070005u);
    EXPECT_THAT(denied.log,
                ::testing::HasSubstr("EMGetLastInstallError ErrorCode: -2147024891\r\n"));
}

// The command line is read once per process, so each list of arguments is
// tried in a fresh one: the death-test child re-executes this binary, sets
// the arguments before anything reads them, and reports the answers of the
// launch methods on stderr.
[[noreturn]] void ReportLaunchAnswers(Arguments arguments) {
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    stubframework::platform::process::SetArguments(static_cast<int>(argv.size()), argv.data());
    std::string report;
    {
        stubtest::BridgeFixture bridge;
        const auto skip = CallMethod(bridge, "isSkipSelfUpdate", {});
        const auto silent = CallMethod(bridge, "isSilentLaunchStub", {});
        const auto resume = CallMethod(bridge, "getResumeMode", {});
        const auto uninstall = CallMethod(bridge, "isUninstallModeLaunch", {});
        const auto answer = [](const char* name, long value, const std::string& log) {
            return std::string(" ") + name + "=" + std::to_string(value) + " [" + Texts(log) + "]";
        };
        report = answer("skip", skip.Bool(), skip.log) +
                 answer("silent", silent.Bool(), silent.log) +
                 answer("resume", resume.Int(), resume.log) +
                 answer("uninstall", uninstall.Bool(), uninstall.log) +
                 " uninstallMode=" + CallMethod(bridge, "getProperty", {"uninstallMode"}).Text() +
                 " defaultOption=" + CallMethod(bridge, "getProperty", {"defaultOption"}).Text();
    }
    std::fprintf(stderr, "answers:%s\n", report.c_str());
    std::fflush(stderr);
    std::_Exit(0);
}

// The answers every launch method gives for an ordinary start.
constexpr const char* kNormalStart =
    "skip=0 [EMIsSkipUpdate Result: update]"
    " silent=0 [EMIsSilentLaunchStub Result: launch normal]"
    " resume=0 []"
    " uninstall=0 [EMIsUninstallModeLaunch | EMIsUninstallModeLaunch result: false]"
    " uninstallMode= defaultOption=\n";

class LaunchMethodsTest : public ::testing::Test {
protected:
    // A fresh process, not a fork: a fork keeps the command line already read.
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// `answers` is a part of the report, from one method's answer on.
void ExpectAnswers(const Arguments& arguments, const std::string& answers) {
    EXPECT_EXIT(ReportLaunchAnswers(arguments), ::testing::ExitedWithCode(0),
                ::testing::HasSubstr(" " + answers));
}

TEST_F(LaunchMethodsTest, AnOrdinaryStartAsksForNothing) {
    ExpectAnswers(Arguments{"/opt/stub/setup"}, kNormalStart);
    // Near misses, and update=0 as the program name.
    ExpectAnswers(
        Arguments{"update=0", "update=00", "/qn+", "RESUME=INSTALL", "uninstall", "modify"},
        kNormalStart);
}

TEST_F(LaunchMethodsTest, SkipUpdateAndSilentInAnyLetterCase) {
    ExpectAnswers(Arguments{"/opt/stub/setup", "x", "UpDate=0", "/qN"},
                  "skip=1 [EMIsSkipUpdate Result: skipUpdate]"
                  " silent=1 [EMIsSilentLaunchStub Result: launch silently]"
                  " resume=0 []");
    // /QN counts even as the program name.
    ExpectAnswers(Arguments{"/QN"},
                  "skip=0 [EMIsSkipUpdate Result: update]"
                  " silent=1 [EMIsSilentLaunchStub Result: launch silently]");
}

TEST_F(LaunchMethodsTest, ResumeModeIsTheFirstResumeArgument) {
    ExpectAnswers(Arguments{"setup", "resume=Installing", "RESUME=DOWNLOADING"}, "resume=2 []");
    ExpectAnswers(Arguments{"setup", "RESUME=DOWNLOADING"}, "resume=1 []");
    ExpectAnswers(Arguments{"RESUME=INSTALLING"}, "resume=0 []");
}

TEST_F(LaunchMethodsTest, UninstallModeFromAnArgumentNotAPath) {
    ExpectAnswers(Arguments{"/opt/stub/Uninstall/setup", "/UNINSTALL"},
                  "uninstall=1 [EMIsUninstallModeLaunch | EMIsUninstallModeLaunch result: true]"
                  " uninstallMode=uninstall defaultOption=uninstall\n");
    ExpectAnswers(Arguments{"setup", "/Modify", "/uninstall"},
                  "uninstall=1 [EMIsUninstallModeLaunch | EMIsUninstallModeLaunch result: true]"
                  " uninstallMode=modify defaultOption=modify\n");
}

}  // namespace
