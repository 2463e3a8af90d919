#include "core/FrameworkCore.h"

#include <gtest/gtest.h>

#include <regex>

#include "app/MainSequence.h"
#include "core/RegistryText.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "support/TestFolder.h"

namespace {

using namespace stubframework::core;
namespace reg = stubframework::platform::registry;

const ProductValues kProduct{"Brindlemark", "24.0.0", "test"};
constexpr const char* kBase = "HKEY_CURRENT_USER\\SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24";

class FrameworkCoreTest : public ::testing::Test {
protected:
    stubtest::TestFolder registry_;
    stubtest::ScopedEnv registryDir_{"STUB_REGISTRY_DIR", registry_.Path()};
    stubtest::ScopedEnv root_{"STUB_INSTALL_ROOT", registry_.Path() + "/root"};
    stubtest::ScopedEnv lang_{"LC_ALL", "de_CH.UTF-8"};
};

TEST(StatusAdjustmentTest, UninstallOptionAddsToLowStatusesOnly) {
    EXPECT_EQ(AdjustStatus(0, "Remove"), 93);
    EXPECT_EQ(AdjustStatus(1, "Modify"), 71);
    EXPECT_EQ(AdjustStatus(2, "Repair"), 82);
    EXPECT_EQ(AdjustStatus(0, ""), 3);
    EXPECT_EQ(AdjustStatus(1, "remove"), 1);
    EXPECT_EQ(AdjustStatus(4, "Remove"), 4);
    EXPECT_EQ(AdjustStatus(8, ""), 8);
    EXPECT_EQ(AdjustStatus(-1, "Modify"), 69);
}

TEST(OsNameTest, WindowsReleasesAndEverythingElse) {
    EXPECT_EQ(OsNameFromVersion(false, 10, 0, 1, 9), "Other");
    EXPECT_EQ(OsNameFromVersion(true, 5, 1, 1, 0), "Windows XP");
    EXPECT_EQ(OsNameFromVersion(true, 5, 2, 1, 9), "Windows XP");
    EXPECT_EQ(OsNameFromVersion(true, 5, 2, 1, 0), "Other");
    EXPECT_EQ(OsNameFromVersion(true, 6, 1, 3, 9), "Other");  // a server
    EXPECT_EQ(OsNameFromVersion(true, 6, 1, 1, 9), "Windows 7");
    EXPECT_EQ(OsNameFromVersion(true, 6, 3, 1, 9), "Windows 8");
    EXPECT_EQ(OsNameFromVersion(true, 6, 5, 1, 9), "Other");
    EXPECT_EQ(OsNameFromVersion(true, 10, 0, 1, 0), "Windows 10");
}

TEST_F(FrameworkCoreTest, ConstructionSetsInitialValuesAndLanguage) {
    FrameworkCore core(kProduct);
    EXPECT_EQ(core.RegistryBase(), kBase);
    EXPECT_EQ(StubRegistryKey("P", "7"), "HKEY_CURRENT_USER\\SOFTWARE\\Zelvo\\stubframework\\P\\7");
    EXPECT_EQ(core.Status(), 4);
    EXPECT_EQ(core.ExitCode(), kUnset);
    // A fresh upper-case GUID per core; the identifier is the machine's (its
    // cases are in MachineIdentityTest).
    EXPECT_TRUE(std::regex_match(core.RequestToken(),
                                 std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}")))
        << core.RequestToken();
    EXPECT_NE(FrameworkCore(kProduct).RequestToken(), core.RequestToken());
    EXPECT_EQ(core.MachineIdentifier().size(), 38u);
    EXPECT_EQ(core.InstallLanguage(), "English");
    EXPECT_EQ(core.ReportVersion(), "1.0");
    EXPECT_EQ(core.OsName(), "Other");
    EXPECT_EQ(core.Country(), "223");
    EXPECT_EQ(core.UiLanguageIndex(), 3);
    EXPECT_EQ(core.Architecture(), "x64");
    EXPECT_EQ(core.Properties().Get("lang"), "en");
    EXPECT_EQ(core.Properties().Get("osbits"), "64");
    std::string stored;
    ASSERT_TRUE(ReadRegistryText(kBase, "install_language", stored));
    EXPECT_EQ(stored, "English");
}

TEST_F(FrameworkCoreTest, DefaultBrowserComesFromTheRegistryFirst) {
    reg::Key key;
    ASSERT_EQ(reg::CreateKey(reg::Root::CurrentUser, "Software\\Clients\\StartMenuInternet",
                             reg::View::Default, key),
              stubframework::platform::kErrorSuccess);
    ASSERT_EQ(reg::SetValue(key, "", reg::kRegSz, reg::TextData("FIREFOX.EXE")),
              stubframework::platform::kErrorSuccess);
    FrameworkCore core(kProduct);
    EXPECT_EQ(core.DefaultBrowser(), "FIREFOX.EXE");
}

TEST_F(FrameworkCoreTest, EmptyFieldsFallBackToTheRegistry) {
    FrameworkCore core({"Brindlemark", "24.0.0", ""});
    EXPECT_EQ(core.Channel(), "");
    ASSERT_TRUE(WriteRegistryText(kBase, "channel", "beta"));
    EXPECT_EQ(core.Channel(), "beta");
    core.SetChannel("stable");
    std::string text;
    ASSERT_TRUE(ReadRegistryText(kBase, "channel", text));
    EXPECT_EQ(text, "stable");
}

TEST_F(FrameworkCoreTest, StatusIsPersistedAndAnUnsetStatusReadsTheRegistry) {
    FrameworkCore core(kProduct);
    core.SetStatus(9);
    std::string text;
    ASSERT_TRUE(ReadRegistryText(kBase, "status", text));
    EXPECT_EQ(text, "9");

    // A DWORD written by someone else reads back as its number.
    core.SetStatus(kUnset);
    reg::Key key;
    ASSERT_EQ(
        reg::CreateKey(reg::Root::CurrentUser, "SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24",
                       reg::View::Wow64_64, key),
        stubframework::platform::kErrorSuccess);
    const std::uint32_t seven = 7;
    ASSERT_EQ(reg::SetValue(key, "status", reg::kRegDword,
                            {reinterpret_cast<const std::uint8_t*>(&seven), sizeof seven}),
              stubframework::platform::kErrorSuccess);
    EXPECT_EQ(core.Status(), 7);
}

TEST_F(FrameworkCoreTest, RegistryTextLimitsAndTypes) {
    ASSERT_TRUE(WriteRegistryText(kBase, "short", std::string(255, 'a')));  // 512 bytes with null
    ASSERT_TRUE(WriteRegistryText(kBase, "long", std::string(256, 'a')));
    std::string text;
    EXPECT_TRUE(ReadRegistryText(kBase, "short", text));
    EXPECT_FALSE(ReadRegistryText(kBase, "long", text));
    EXPECT_FALSE(ReadRegistryText(kBase, "missing", text));
    EXPECT_FALSE(ReadRegistryText("HKEY_NOWHERE\\x", "v", text));

    reg::Key key;
    ASSERT_EQ(
        reg::OpenKey(reg::Root::CurrentUser, "SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24",
                     reg::View::Wow64_32, reg::Access::All, key),
        stubframework::platform::kErrorSuccess);
    const std::uint32_t minusOne = 0xFFFFFFFF;
    reg::SetValue(key, "dword", reg::kRegDword,
                  {reinterpret_cast<const std::uint8_t*>(&minusOne), sizeof minusOne});
    ASSERT_TRUE(ReadRegistryText(kBase, "dword", text));
    EXPECT_EQ(text, "-1");
}

}  // namespace
