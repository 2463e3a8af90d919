// Runs the installer executable the way a user would, against a scratch
// temporary folder and registry.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/RegistryText.h"
#include "support/TestFolder.h"

namespace {

namespace stdfs = std::filesystem;
using stubframework::core::ReadRegistryText;
using stubframework::core::WriteRegistryText;

constexpr const char* kBase = "HKEY_CURRENT_USER\\SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24";

class InstallerRunTest : public ::testing::Test {
protected:
    // The exit status of the installer run with `arguments`.
    int RunInstaller(const std::string& arguments = "") {
        const std::string command = "TMPDIR='" + tmp_ + "' STUB_REGISTRY_DIR='" + registry_.Path() +
                                    "' '" + STUB_BIN_DIR + "/BrindlemarkInstall' " + arguments +
                                    " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::vector<std::string> TmpEntries() {
        std::vector<std::string> names;
        for (const auto& entry : stdfs::directory_iterator(tmp_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    std::string KeptLog() {
        for (const auto& entry : stdfs::directory_iterator(tmp_ + "/Brindlemark_log")) {
            return stubtest::ReadFile(entry.path().string());
        }
        return {};
    }

    stubtest::TestFolder scratch_;
    stubtest::TestFolder registry_;
    std::string tmp_ = scratch_.Path();
    stubtest::ScopedEnv registryDir_{"STUB_REGISTRY_DIR", registry_.Path()};
};

TEST_F(InstallerRunTest, WithoutPagesTheRunFailsCleanlyAndKeepsItsLog) {
    ASSERT_EQ(RunInstaller(), 0);

    EXPECT_EQ(TmpEntries(), std::vector<std::string>{"Brindlemark_log"});
    const std::string log = KeptLog();
    EXPECT_NE(log.find("DEBUG] Property lang: en\n\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("DEBUG] Property osbits: 64\n\r\n"), std::string::npos);
    EXPECT_NE(log.find("DEBUG] Property uninstallOption: \n\r\n"), std::string::npos);

    std::string status;
    ASSERT_TRUE(ReadRegistryText(kBase, "status", status));
    EXPECT_EQ(status, "2");
    std::string language;
    ASSERT_TRUE(ReadRegistryText(kBase, "install_language", language));
    EXPECT_EQ(language, "English");
}

TEST_F(InstallerRunTest, ResumeRunRestoresAndThenRemovesExtractionFolders) {
    const std::string extracted = tmp_ + "/1a2b";
    stdfs::create_directories(extracted + "/sub");
    stubtest::WriteFile(extracted + "/sub/setup.exe", "x");
    const std::string record = std::string(kBase) + "\\ResumeRecord\\ExtractFolders";
    ASSERT_TRUE(WriteRegistryText(record, "Pkg__ZIP_Unzip_Folder__", extracted + "/"));
    ASSERT_TRUE(WriteRegistryText(record, "Pkg__ZIP_EXE_Path__", extracted + "/sub/setup.exe"));

    ASSERT_EQ(RunInstaller("RESUME=INSTALLING"), 0);

    EXPECT_FALSE(stdfs::exists(extracted));
    const std::string log = KeptLog();
    EXPECT_NE(log.find("Property Pkg__ZIP_Unzip_Folder__: " + extracted + "/"), std::string::npos);
    EXPECT_NE(log.find("DEBUG] Reset properties for Resume Mode"), std::string::npos);
    std::string ignored;
    EXPECT_FALSE(ReadRegistryText(record, "Pkg__ZIP_Unzip_Folder__", ignored));
}

TEST_F(InstallerRunTest, StoredSelfUpdateCodeBecomesTheExitCode) {
    ASSERT_TRUE(WriteRegistryText(kBase, "selfupdate_code", "197800"));
    // POSIX keeps the low 8 bits of 197800.
    EXPECT_EQ(RunInstaller(), 197800 & 0xFF);
    EXPECT_EQ(TmpEntries(), std::vector<std::string>{"Brindlemark_log"});

    ASSERT_TRUE(WriteRegistryText(kBase, "selfupdate_code", "5"));
    EXPECT_EQ(RunInstaller(), 0);
}

}  // namespace
