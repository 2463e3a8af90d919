// The product's own methods as a page calls them: tracking values and
// events, the office version, the system folder and the wrapped file version.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "MyExternalMethods.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"
#include "support/RecordingSender.h"
#include "support/Sandbox.h"
#include "support/TestFolder.h"

namespace {

namespace reg = stubframework::platform::registry;
using stubtest::CallMethod;

using stubtest::RecordingSender;

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
    // The start values: the product, its build and the system.
    const myexternalmethods::TrackingProperties start = bridge.Methods().Tracking();
    EXPECT_EQ(start.application, "Brindlemark");
    EXPECT_EQ(start.buildNumber, "24.0.0.1");
    EXPECT_EQ(std::count(start.deviceOsVersion.begin(), start.deviceOsVersion.end(), '.'), 2);
    EXPECT_EQ(start.deviceLang.size(), 2u);
    // Nothing set: an event without properties carries nothing.
    bridge.Methods().Tracking() = {};
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
    // Without a window there is nothing to minimise, and nothing fails.
    const auto minimized = CallMethod(bridge, "minimizedWindow", {});
    EXPECT_EQ(minimized.hr, S_OK);
    EXPECT_NE(minimized.log.find("EMMinimizedWindow"), std::string::npos);
}

// Boxes without a window take their answers from the list; a confirm box
// after the call shows how many answers the call used.
TEST_F(ProductMethodsTest, ARunningProgramIsReportedUntilTheUserGivesUpOrItEnds) {
    stubtest::TestFolder scratch;
    // A name of this test's own: the look covers every process of the
    // machine, and other tests run programs named Brindlemark.exe.
    const std::string id = std::to_string(stubframework::platform::process::CurrentProcessId());
    const std::string programName = "Brindlemark-" + id + ".exe";
    const std::string program = scratch / programName;
    std::filesystem::copy_file(stubtest::Sandbox::BinPath("stub-test-exit"), program);
    const std::string release = scratch / "release";
    stubframework::platform::process::ChildProcess running;
    ASSERT_TRUE(running.Start("\"" + program + "\" 0 --until \"" + release + "\""));
    const auto isRunning = [this](const char* name) {
        return CallMethod(bridge, "isRunning", {name, "Brindlemark", "Close Brindlemark first."})
            .Bool();
    };
    const auto confirmed = [this] {
        return CallMethod(bridge, "confirmMessageBox", {"Leave?", "Title"}).Bool();
    };
    {
        // Retry looks again and finds it again; Cancel gives up: running.
        const stubtest::ScopedEnv answers("STUB_DIALOG_ANSWERS", "retry,cancel,cancel");
        EXPECT_TRUE(isRunning(("brindlemark-" + id + ".EXE").c_str()));
        EXPECT_FALSE(confirmed());
    }
    {
        // Retry with nothing left to answer ends as Cancel, not in a loop.
        const stubtest::ScopedEnv answers("STUB_DIALOG_ANSWERS", "retry");
        EXPECT_TRUE(isRunning(programName.c_str()));
    }
    std::ofstream(release).put('x');
    std::uint32_t code = 1;
    ASSERT_TRUE(running.Wait(30000, code));
    {
        // A program that is not running asks nothing.
        const stubtest::ScopedEnv answers("STUB_DIALOG_ANSWERS", "cancel");
        EXPECT_FALSE(isRunning(programName.c_str()));
        EXPECT_FALSE(isRunning(""));
        EXPECT_FALSE(confirmed());
    }
}

}  // namespace
