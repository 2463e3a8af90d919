// The run's reports as the web service receives them: the analytics
// document, the activity report and the error report's archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/FrameworkCore.h"
#include "core/LanguageTable.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"
#include "support/TestPackages.h"
#include "support/WebServiceMock.h"
#include "telemetry/Analytics.h"
#include "telemetry/ReportDocuments.h"
#include "telemetry/WebServiceClient.h"

namespace {

namespace stdfs = std::filesystem;
using namespace stubframework;

class ReportsTest : public ::testing::Test {
protected:
    ReportsTest() { core::SetWebServiceHost(mock.BaseUrl()); }
    ~ReportsTest() override { core::InitWebServiceHost(); }

    core::FrameworkCore& Core() { return bridge.Framework().Core(); }
    core::Analytics& Reports() { return bridge.Framework().Reports(); }
    std::vector<std::string> TempEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : stdfs::directory_iterator(stdfs::temp_directory_path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    stubtest::WebServiceMock mock;
    stubtest::BridgeFixture bridge;
};

TEST_F(ReportsTest, TheAnalyticsDocumentCarriesTheRunInItsOrder) {
    core::FrameworkCore& core = Core();
    core.ExternalProperties() = {{"zeta", "1"}, {"alpha", "x<y&z>"}};
    core.SetChannel("retail");
    core.SetStatus(2);
    // The start report says "started" whatever the status is.
    ASSERT_TRUE(Reports().ReportStart());
    const std::string digest = core::MachineIdDigest(core.MachineIdentifier());
    const auto requests = mock.WaitFor("/v1/logAnalytics", 1);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/xml");
    EXPECT_EQ(requests[0].body,
              "<TAVIKAnalytics><requestToken>" + core.RequestToken() + "</requestToken><country>" +
                  core.Country() +
                  "</country><mainApp><productId>Brindlemark</productId>"
                  "<productVersion>24.0.0</productVersion><channelId>retail</channelId>"
                  "<installLanguage>English</installLanguage><status>started</status>"
                  "<serialKey></serialKey><externalProperties>"
                  "<property><name>alpha</name><value>x&lt;y&amp;z&gt;</value></property>"
                  "<property><name>zeta</name><value>1</value></property>"
                  "</externalProperties></mainApp><error></error><userEnvironment><OS>" +
                  core.OsName() + "</OS><language>" +
                  std::string(core::LanguageTable()[core.UiLanguageIndex()].name) +
                  "</language><architecture>" + core.Architecture() +
                  "</architecture><defaultBrowser>" + core.DefaultBrowser() +
                  "</defaultBrowser></userEnvironment><TAVIKVersion>1.0</TAVIKVersion>"
                  "<machineId>" +
                  digest + "</machineId></TAVIKAnalytics>");
    EXPECT_EQ(digest.size(), 64u);

    // The final status: 0 counts as cancelled, numbers without a text send
    // an empty element; without external properties there is no element.
    core.ExternalProperties().clear();
    const std::pair<std::int32_t, std::string> finals[] = {
        {0, "canceled"}, {1, "completed"}, {7, ""}, {17, ""}, {92, "remove error occurred"}};
    for (const auto& [status, text] : finals) {
        core.SetStatus(status);
        ASSERT_TRUE(Reports().ReportStatus());
    }
    const auto all = mock.WaitFor("/v1/logAnalytics", 1 + std::size(finals));
    for (std::size_t i = 0; i < std::size(finals); ++i) {
        const std::string& body = all[i + 1].body;
        EXPECT_NE(body.find("<status>" + finals[i].second + "</status>"), std::string::npos)
            << body;
        EXPECT_EQ(body.find("externalProperties"), std::string::npos);
    }
}

TEST_F(ReportsTest, TheErrorReportUploadsTheAttachmentsAsOneArchive) {
    stubtest::TestFolder files;
    const std::vector<std::string> before = TempEntries();
    EXPECT_FALSE(Reports().SendErrorReport());  // nothing attached

    stubtest::WriteFile(files / "second.txt", "second");
    stubtest::WriteFile(files / "first.log", std::string(3 << 20, 'x'));  // past 1 MiB
    ASSERT_TRUE(Core().AttachedFiles().Attach(files / "first.log"));
    ASSERT_TRUE(Core().AttachedFiles().Attach(files / "second.txt"));
    EXPECT_FALSE(Core().AttachedFiles().Attach(files / "second.txt"));  // once
    EXPECT_FALSE(Core().AttachedFiles().Attach(files / "missing.txt"));
    ASSERT_TRUE(Reports().SendErrorReport());
    const auto uploads = mock.WaitFor("/v1/reportError", 1);
    EXPECT_EQ(uploads[0].method, "PUT");
    EXPECT_EQ(uploads[0].query, "token=" + Core().RequestToken() + "&machineId=" +
                                    core::MachineIdDigest(Core().MachineIdentifier()));
    EXPECT_EQ(uploads[0].Header("Content-Type"), "application/xml");
    const auto entries = stubtest::ReadZip(uploads[0].body);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].first, "first.log");
    EXPECT_EQ(entries[0].second.size(), std::size_t{3} << 20);
    EXPECT_EQ(entries[1], (std::pair<std::string, std::string>{"second.txt", "second"}));
    EXPECT_EQ(TempEntries(), before);

    // An attachment gone by the time of the report: nothing is sent, and
    // the working folder goes all the same.
    stdfs::remove(files / "second.txt");
    EXPECT_FALSE(Reports().SendErrorReport());
    EXPECT_EQ(TempEntries(), before);

    // The combined form: the status report, and on a failed run the archive.
    stubtest::WriteFile(files / "second.txt", "again");
    Core().SetStatus(2);
    EXPECT_EQ(Reports().ReportFinal(true), 0);
    EXPECT_EQ(mock.WaitFor("/v1/reportError", 2).size(), 2u);
    EXPECT_NE(
        mock.WaitFor("/v1/logAnalytics", 1).back().body.find("<status>error occurred</status>"),
        std::string::npos);
    core::SetWebServiceHost("https://127.0.0.1:9");
    EXPECT_EQ(Reports().ReportFinal(true), 300);
    EXPECT_EQ(TempEntries(), before);
}

TEST_F(ReportsTest, AnActivityArrivesAsThePageNamedIt) {
    const auto call = stubtest::CallMethod(bridge, "trackUserActivity", {"Next & <Finish>"});
    EXPECT_EQ(call.hr, S_OK);
    const auto reports = mock.WaitFor("/v1/logUserActivity", 1);
    EXPECT_EQ(reports[0].method, "POST");
    EXPECT_EQ(reports[0].body, "<UserActivity><token>" + Core().RequestToken() +
                                   "</token><productId>Brindlemark</productId>"
                                   "<productVersion>24.0.0</productVersion>"
                                   "<activity>Next &amp; &lt;Finish&gt;</activity></UserActivity>");

    // A service that cannot be reached: the failure is logged.
    core::SetWebServiceHost("https://127.0.0.1:9");
    stubtest::CallMethod(bridge, "trackUserActivity", {"Cancel"});
    ASSERT_TRUE(bridge.Dispatch().WaitForWorkers(stubtest::kNoTimeLimitMs));
    EXPECT_NE(bridge.LogText().find("TrackUserActivityTreadFunc track activity:Cancel failed!"),
              std::string::npos);
}

}  // namespace
