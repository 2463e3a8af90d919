// The product's own methods as a page calls them: tracking values and
// events, the office version, the system folder and the wrapped file version.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "MyExternalMethods.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"

namespace {

namespace reg = stubframework::platform::registry;
using stubtest::CallMethod;

class RecordingSender final : public myexternalmethods::TrackerSender {
public:
    explicit RecordingSender(std::vector<std::pair<std::string, std::string>>& sent)
        : sent_(sent) {}
    void Send(const std::string& event, const std::string& properties) override {
        sent_.emplace_back(event, properties);
    }

private:
    std::vector<std::pair<std::string, std::string>>& sent_;
};

void SeedOffice(const std::string& key, reg::View view, std::uint32_t type = reg::kRegSz) {
    reg::Key created;
    ASSERT_EQ(reg::CreateKey(reg::Root::LocalMachine, key, view, created), 0u);
    if (key.ends_with("InstallRoot")) {
        const std::vector<std::uint8_t> data =
            type == reg::kRegDword ? std::vector<std::uint8_t>{1, 0, 0, 0} : reg::TextData("C:\\O");
        ASSERT_EQ(reg::SetValue(created, "Path", type, data), 0u);
    }
}

class ProductMethodsTest : public ::testing::Test {
protected:
    std::string Office(bool is64) { return CallMethod(bridge, "getOfficeVersion", {is64}).Text(); }

    stubtest::BridgeFixture bridge;
};

TEST_F(ProductMethodsTest, TrackingValuesGoIntoEveryEventInTheirOrder) {
    std::vector<std::pair<std::string, std::string>> sent;
    bridge.Methods().SetSender(std::make_unique<RecordingSender>(sent));
    // Nothing set yet: an event without properties carries nothing.
    EXPECT_EQ(CallMethod(bridge, "trackingByAnalyticsSDK", {"install.started", ""}).hr, S_OK);

    const auto duration = CallMethod(bridge, "setTrackingProperty", {8, "42"});
    EXPECT_EQ(duration.hr, S_OK);
    EXPECT_NE(duration.log.find("EMSetTrackingProperty install.downlad-duration: 42"),
              std::string::npos);
    CallMethod(bridge, "setTrackingProperty", {0, "web"});
    CallMethod(bridge, "setTrackingProperty", {1, "de"});
    CallMethod(bridge, "setTrackingProperty", {2, "1234"});
    // Ids that name nothing change nothing and succeed.
    for (const int id : {12, -1}) {
        const auto call = CallMethod(bridge, "setTrackingProperty", {id, "x"});
        EXPECT_EQ(call.hr, S_OK);
        EXPECT_EQ(call.log.find("EMSetTrackingProperty "), std::string::npos);
    }
    CallMethod(bridge, "trackingByAnalyticsSDK", {"install.completed", ""});
    CallMethod(bridge, "trackingByAnalyticsSDK", {"page.shown", "name=Welcome"});
    const std::string list =
        "install.channel=web|product.build-number=1234|install.language=de|product.language=de"
        "|install.download-duration=42";
    EXPECT_EQ(sent, (std::vector<std::pair<std::string, std::string>>{
                        {"install.started", ""},
                        {"install.completed", list},
                        {"page.shown", "name=Welcome|" + list}}));
}

TEST_F(ProductMethodsTest, TheOfficeVersionIsTheHighestKeyWithAnInstallPath) {
    const std::string plain = "SOFTWARE\\Microsoft\\Office\\";
    SeedOffice(plain + "17.0\\Word", reg::View::Wow64_64);  // no InstallRoot
    EXPECT_EQ(Office(true), "none");
    SeedOffice(plain + "15.0\\Excel\\InstallRoot", reg::View::Wow64_64);
    SeedOffice(plain + "16.0\\Common\\InstallRoot", reg::View::Wow64_64, reg::kRegDword);
    SeedOffice(plain + "9.0\\Word\\InstallRoot", reg::View::Wow64_64);
    EXPECT_EQ(Office(true), "16.0");
    EXPECT_EQ(Office(false), "none");  // the 32-bit view is another tree
    SeedOffice(plain + "14.0\\Outlook\\InstallRoot", reg::View::Wow64_32);
    EXPECT_EQ(Office(false), "14.0");
    // A click-to-run installation is looked at first and wins.
    SeedOffice(
        "SOFTWARE\\Microsoft\\Office\\ClickToRun\\REGISTRY\\MACHINE\\Software\\Microsoft"
        "\\Office\\15.0\\Publisher\\InstallRoot",
        reg::View::Wow64_64);
    EXPECT_EQ(Office(true), "15.0");
}

TEST_F(ProductMethodsTest, SmallProductMethods) {
    const auto source = CallMethod(bridge, "getSourceID", {"{ABC}"});
    EXPECT_EQ(source.Text(), "");
    EXPECT_NE(source.log.find("EMGetSourceID args {ABC}, Result "), std::string::npos);
    // Both names, any flags, no checks.
    const std::string system = stubframework::platform::system::SystemFolder();
    for (const char* name : {"getSystemFolder", "getSystemFolderEx"}) {
        for (const WORD flags : {WORD{DISPATCH_METHOD}, WORD{DISPATCH_PROPERTYGET}, WORD{4}}) {
            const auto call = CallMethod(bridge, name, {}, flags);
            EXPECT_EQ(call.hr, S_OK) << name << flags;
            EXPECT_EQ(call.Text(), system) << name << flags;
        }
    }
    // The file version through the framework's method, its checks included.
    const auto version = CallMethod(bridge, "getFileVersionEx", {".exe", "/nonexistent/file.exe"});
    EXPECT_EQ(version.hr, S_OK);
    EXPECT_NE(version.log.find("EMGetMSIFileVersion"), std::string::npos);
    EXPECT_EQ(CallMethod(bridge, "getFileVersionEx", {".exe", 5}).hr,
              static_cast<HRESULT>(DISP_E_TYPEMISMATCH));
}

}  // namespace
