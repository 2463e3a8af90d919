#include "core/ResumeRecord.h"

#include <gtest/gtest.h>

#include "core/FrameworkCore.h"
#include "core/InstallerLog.h"
#include "core/RegistryText.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "support/TestFolder.h"

namespace {

using namespace stubframework::core;
namespace reg = stubframework::platform::registry;
using stubframework::platform::kErrorSuccess;

const ProductValues kProduct{"Brindlemark", "24.0.0", "test"};

class ResumeRecordTest : public ::testing::Test {
protected:
    bool KeyExists(reg::Root root, const std::string& subKey) {
        reg::Key key;
        return reg::OpenKey(root, subKey, reg::View::Wow64_32, reg::Access::Read, key) ==
               kErrorSuccess;
    }

    stubtest::TestFolder temp_;
    stubtest::ScopedEnv tmpdir_{"TMPDIR", temp_.Path()};
    stubtest::ScopedEnv registryDir_{"STUB_REGISTRY_DIR", temp_.Path()};
    stubtest::ScopedEnv root_{"STUB_INSTALL_ROOT", temp_.Path() + "/root"};
    FrameworkCore core_{kProduct};
    const std::string extractKey_ = core_.RegistryBase() + "\\ResumeRecord\\ExtractFolders";
    const std::string extractSubKey_ =
        "SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24\\ResumeRecord\\ExtractFolders";
};

TEST_F(ResumeRecordTest, ResumeModePoursTheRecordBackAndRemovesIt) {
    WriteResumeRecord(core_, "Product", "/tmp/abc/", "/tmp/abc/setup.exe");
    FrameworkCore restarted(kProduct);
    stubframework::debug::InstallerLog log;
    ApplyResumeRecord(restarted, stubframework::ResumeMode::INSTALLING, &log);
    EXPECT_EQ(restarted.Properties().Get("Product__ZIP_Unzip_Folder__"), "/tmp/abc/");
    EXPECT_EQ(restarted.Properties().Get("Product__ZIP_EXE_Path__"), "/tmp/abc/setup.exe");
    EXPECT_FALSE(KeyExists(reg::Root::CurrentUser, extractSubKey_));
    const std::string content = stubtest::ReadFile(log.FilePath());
    EXPECT_NE(content.find("DEBUG] Reset properties for Resume Mode\r\n"), std::string::npos);
    EXPECT_NE(content.find("DEBUG] Product__ZIP_EXE_Path__:/tmp/abc/setup.exe\r\n"),
              std::string::npos);
}

TEST_F(ResumeRecordTest, WithoutResumeTheRecordIsDeletedUnread) {
    WriteResumeRecord(core_, "Product", "/tmp/abc/", "/tmp/abc/setup.exe");
    FrameworkCore fresh(kProduct);
    ApplyResumeRecord(fresh, stubframework::ResumeMode::NONE, nullptr);
    EXPECT_EQ(fresh.Properties().Snapshot().count("Product__ZIP_Unzip_Folder__"), 0u);
    EXPECT_FALSE(KeyExists(reg::Root::CurrentUser, extractSubKey_));
}

TEST_F(ResumeRecordTest, OversizedValuesAreSkipped) {
    ASSERT_TRUE(WriteRegistryText(extractKey_, "big", std::string(1000, 'x')));  // 2002 bytes
    ASSERT_TRUE(WriteRegistryText(extractKey_, "small", "ok"));
    FrameworkCore restarted(kProduct);
    ApplyResumeRecord(restarted, stubframework::ResumeMode::DOWNLOADING, nullptr);
    EXPECT_EQ(restarted.Properties().Snapshot().count("big"), 0u);
    EXPECT_EQ(restarted.Properties().Get("small"), "ok");
}

TEST_F(ResumeRecordTest, ResumeManagerRecordAndRegistrationPrograms) {
    const std::string managerKey = core_.RegistryBase() + "\\ResumeManager";
    const std::string guid = "{1234-ABCD}";
    ASSERT_TRUE(WriteRegistryText(managerKey, "folder", "/tmp/f"));
    ASSERT_TRUE(WriteRegistryText(managerKey, "guid", guid));
    ASSERT_TRUE(WriteRegistryText(managerKey, "launchOnExit", "Vendor\\" + guid + "\\Apps"));
    ASSERT_TRUE(WriteRegistryText(managerKey, "tempfolder0", "/tmp/a"));
    ASSERT_TRUE(WriteRegistryText(managerKey, "tempfolder1", "/tmp/b"));
    ASSERT_TRUE(WriteRegistryText(managerKey, "tempfolder3", "/tmp/d"));

    const ResumeManagerRecord record = LoadResumeManager(core_.RegistryBase(), true);
    EXPECT_TRUE(record.loaded);
    EXPECT_EQ(record.tempFolders, (std::vector<std::string>{"/tmp/a", "/tmp/b"}));

    const std::string apps = "HKEY_LOCAL_MACHINE\\Software\\Vendor\\" + guid + "\\Apps";
    ASSERT_TRUE(WriteRegistryText(apps, "regApp2", "second --x"));
    ASSERT_TRUE(WriteRegistryText(apps, "other", "skipped"));
    ASSERT_TRUE(WriteRegistryText(apps, "regApp1", "first"));
    EXPECT_EQ(RegistrationApplications(core_.RegistryBase(), stubframework::ResumeMode::INSTALLING),
              (std::vector<std::string>{"second --x", "first"}));
    EXPECT_FALSE(KeyExists(reg::Root::LocalMachine, "Software\\Vendor\\" + guid));
    EXPECT_TRUE(KeyExists(reg::Root::LocalMachine, "Software\\Vendor"));

    // Without a resume argument loading deletes the record, so nothing runs.
    EXPECT_TRUE(
        RegistrationApplications(core_.RegistryBase(), stubframework::ResumeMode::NONE).empty());
    EXPECT_FALSE(LoadResumeManager(core_.RegistryBase(), true).loaded);
}

}  // namespace
