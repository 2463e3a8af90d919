// Runs the installer executable the way a user would, against a scratch
// temporary folder and registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/RegistryText.h"
#include "support/Sandbox.h"
#include "support/TestPackages.h"
#include "support/WebServiceMock.h"

namespace {

namespace stdfs = std::filesystem;
using stubframework::core::ReadRegistryText;
using stubframework::core::WriteRegistryText;
using Names = std::vector<std::string>;

constexpr const char* kBase = "HKEY_CURRENT_USER\\SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24";

class InstallerRunTest : public ::testing::Test {
protected:
    std::string KeptLog() const {
        const std::vector<std::string> logs = sandbox_.KeptLogs();
        return logs.empty() ? std::string() : logs.back();
    }

    stubtest::Sandbox sandbox_;
};

TEST_F(InstallerRunTest, WithoutPagesTheRunFailsCleanlyKeepsItsLogAndReportsIt) {
    const stubtest::WebServiceMock mock;
    sandbox_.AddEnvironment("STUB_WEBSERVICE_URL='" + mock.BaseUrl() + "'");
    ASSERT_EQ(sandbox_.Run("BrindlemarkInstall-bare"), 0);

    // The error report's folder went with the run.
    EXPECT_EQ(sandbox_.TmpEntries(), Names{"Brindlemark_log"});
    const std::string log = KeptLog();
    EXPECT_NE(log.find("ERROR] Load Resource from pe failed."), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG] Property lang: en\n\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG] Property osbits: 64\n\r\n"), std::string::npos);
    EXPECT_NE(log.find("DEBUG] Property uninstallOption: \n\r\n"), std::string::npos);

    std::string status;
    ASSERT_TRUE(ReadRegistryText(kBase, "status", status));
    EXPECT_EQ(status, "2");
    std::string language;
    ASSERT_TRUE(ReadRegistryText(kBase, "install_language", language));
    EXPECT_EQ(language, "English");

    // Started, failed, and the log with its property dump uploaded.
    const auto reports = mock.WaitFor("/v1/logAnalytics", 2);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_NE(reports[0].body.find("<status>started</status>"), std::string::npos);
    EXPECT_NE(reports[1].body.find("<status>error occurred</status>"), std::string::npos);
    EXPECT_NE(reports[1].body.find("<property><name>propertyName1</name><value>propertyValue1"),
              std::string::npos);
    const auto uploads = mock.WaitFor("/v1/reportError", 1);
    ASSERT_EQ(uploads.size(), 1u);
    const auto entries = stubtest::ReadZip(uploads[0].body);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].first.rfind("installer_log_", 0), 0u);
    EXPECT_EQ(entries[0].second, log);
}

TEST_F(InstallerRunTest, TwoRunsStartingTogetherOnAVirtualMachineShareOneIdentity) {
    // A virtual machine of the table, and its machine id.
    const stubtest::TestFolder machine;
    stdfs::create_directories(machine / "sys/class/dmi/id");
    stubtest::WriteFile(machine / "sys/class/dmi/id/product_name", "VirtualBox\n");
    stubtest::WriteFile(machine / "sys/class/dmi/id/sys_vendor", "innotek GmbH\n");
    stubtest::WriteFile(machine / "machine-id", "0123456789abcdef0123456789abcdef\n");
    const stubtest::WebServiceMock mock;
    // Two users' runs: each its own instance, one machine.
    stubtest::Sandbox other;
    for (stubtest::Sandbox* run : {&sandbox_, &other}) {
        run->AddEnvironment("STUB_WEBSERVICE_URL='" + mock.BaseUrl() + "' STUB_SYSFS_ROOT='" +
                            machine / "sys" + "' STUB_MACHINE_ID_FILE='" + machine / "machine-id" +
                            "' STUB_INSTALL_ROOT='" + machine / "root" + "'");
    }
    const pid_t first = sandbox_.Start("BrindlemarkInstall-bare");
    const pid_t second = other.Start("BrindlemarkInstall-bare");
    ASSERT_EQ(stubtest::Sandbox::Wait(first), 0);
    ASSERT_EQ(stubtest::Sandbox::Wait(second), 0);

    const auto reports = mock.WaitFor("/v1/logAnalytics", 4);
    std::vector<std::string> digests;
    std::vector<std::string> tokens;
    for (const auto& report : reports) {
        const auto text = [&report](const std::string& name) {
            const std::size_t start = report.body.find("<" + name + ">") + name.size() + 2;
            return report.body.substr(start, report.body.find("</" + name + ">") - start);
        };
        digests.push_back(text("machineId"));
        tokens.push_back(text("requestToken"));
    }
    EXPECT_EQ(digests, std::vector<std::string>(4, digests[0]));
    EXPECT_EQ(digests[0].size(), 64u);
    // Not the placeholder's digest, and a fresh token for each run.
    EXPECT_NE(digests[0], "0a64d955f4e08a65953484e0548300dd26fc1e6cc193c9c8ee3d0e731360fc75");
    std::sort(tokens.begin(), tokens.end());
    EXPECT_EQ(std::unique(tokens.begin(), tokens.end()) - tokens.begin(), 2);
    EXPECT_NE(tokens[0], "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX");
    EXPECT_TRUE(stdfs::exists(machine / "root/ProgramData/UniqueId/data"));
}

TEST_F(InstallerRunTest, ATruncatedPagePackageTakesTheFailedRoad) {
    // The packed installer with the end of its archive cut off.
    const std::string installer =
        stubtest::ReadFile(stubtest::Sandbox::BinPath("BrindlemarkInstall"));
    const std::string cut = sandbox_.Runtime() + "/BrindlemarkInstall";
    stubtest::WriteFile(cut, installer.substr(0, installer.size() - 40));
    stdfs::permissions(cut, stdfs::perms::owner_all);

    ASSERT_EQ(sandbox_.Run(cut, "run=1"), 0);

    const std::string log = KeptLog();
    EXPECT_NE(log.find("DEBUG] Load Resource from pe.\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("ERROR] Load Resource from pe failed."), std::string::npos) << log;
    std::string status;
    ASSERT_TRUE(ReadRegistryText(kBase, "status", status));
    EXPECT_EQ(status, "2");
    // The folder made for the pages went with the teardown.
    EXPECT_EQ(sandbox_.TmpEntries(), Names{"Brindlemark_log"});
}

TEST_F(InstallerRunTest, ResumeRunRestoresAndThenRemovesExtractionFolders) {
    const std::string extracted = sandbox_.Tmp() + "/1a2b";
    stdfs::create_directories(extracted + "/sub");
    stubtest::WriteFile(extracted + "/sub/setup.exe", "x");
    const std::string record = std::string(kBase) + "\\ResumeRecord\\ExtractFolders";
    ASSERT_TRUE(WriteRegistryText(record, "Pkg__ZIP_Unzip_Folder__", extracted + "/"));
    ASSERT_TRUE(WriteRegistryText(record, "Pkg__ZIP_EXE_Path__", extracted + "/sub/setup.exe"));

    ASSERT_EQ(sandbox_.Run("BrindlemarkInstall-bare", "RESUME=INSTALLING"), 0);

    EXPECT_FALSE(stdfs::exists(extracted));
    const std::string log = KeptLog();
    EXPECT_NE(log.find("Property Pkg__ZIP_Unzip_Folder__: " + extracted + "/"), std::string::npos);
    EXPECT_NE(log.find("DEBUG] Reset properties for Resume Mode"), std::string::npos);
    std::string ignored;
    EXPECT_FALSE(ReadRegistryText(record, "Pkg__ZIP_Unzip_Folder__", ignored));
}

TEST_F(InstallerRunTest, StoredSelfUpdateCodeBecomesTheWorkingCopysExitCode) {
    ASSERT_TRUE(WriteRegistryText(kBase, "selfupdate_code", "197800"));
    // POSIX keeps the low 8 bits of 197800.
    EXPECT_EQ(sandbox_.Run("BrindlemarkInstall-bare", "run=1"), 197800 & 0xFF);
    // The launcher finds no new version to hand over to and ends normally.
    EXPECT_EQ(sandbox_.Run("BrindlemarkInstall-bare"), 0);
    EXPECT_EQ(sandbox_.TmpEntries(), Names{"Brindlemark_log"});

    ASSERT_TRUE(WriteRegistryText(kBase, "selfupdate_code", "5"));
    EXPECT_EQ(sandbox_.Run("BrindlemarkInstall-bare", "run=1"), 0);
}

}  // namespace
