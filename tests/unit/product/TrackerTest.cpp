// The tracker's life: initialised once, events refused before and after,
// the final event of a run, and the tracker log.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Tracker.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"
#include "support/RecordingSender.h"
#include "support/TestFolder.h"

namespace {

namespace stdfs = std::filesystem;
using myexternalmethods::Tracker;

using stubtest::RecordingSender;

std::string TrackerLogText(const std::string& folder) {
    std::string text;
    for (const auto& entry : stdfs::directory_iterator(folder)) {
        if (entry.path().filename().string().rfind("productanalytics_", 0) == 0) {
            text += stubtest::ReadFile(entry.path().string());
        }
    }
    return text;
}

TEST(TrackerTest, EventsAreTakenOnlyWhileTheTrackerIsInitialised) {
    stubtest::TestFolder temp;
    const stubtest::ScopedEnv tmpdir("TMPDIR", temp.Path());
    Tracker tracker;
    EXPECT_EQ(tracker.TrackEvent("install.start", ""), Tracker::kNotInitialised);
    myexternalmethods::TrackerCoreData data;
    data.productName = "Brindlemark";
    EXPECT_EQ(tracker.Initialize(data, "LOGGING_ENABLED=true\n"), Tracker::kDone);
    EXPECT_EQ(tracker.Initialize(data, ""), Tracker::kAlreadyInitialised);
    EXPECT_TRUE(tracker.Settings().loggingEnabled);

    EXPECT_EQ(tracker.TrackEvent("", ""), Tracker::kRefused);
    EXPECT_EQ(tracker.TrackEvent("install.start", "a=1|b"), Tracker::kRefused);
    EXPECT_EQ(tracker.TrackEvent("install.start", "|a=1||b=2|"), Tracker::kDone);
    // No page to deliver to in this run: nothing to wait for.
    tracker.Linger(stubtest::kNoTimeLimitMs);
    tracker.Release();
    EXPECT_EQ(tracker.TrackEvent("install.start", ""), Tracker::kNotInitialised);

    const std::string log = TrackerLogText(temp.Path());
    for (const char* line :
         {" TRACE] Call initialize\n", " ERROR] Invalid eventData pattern: a=1|b\n",
          " TRACE] trackData:\n install.start:productId=Brindlemark|productName=Brindlemark|",
          "|trackingEnvironment=production||a=1||b=2|\n", " TRACE] Call LaunchTrackTask\n",
          " TRACE] vaArgs:\n{\n\"productId\":\"Brindlemark\",\n\"eventName\":\"install.start\"",
          "\"eventData\": {\n\"a\":\"1\",\n\"b\":\"2\"}\n}\n",
          " ERROR] calling JS 'trackEvent' failed, m_spHtmlDoc is NULL, errorCode: ",
          " TRACE] LaunchTrackTask end\n", " TRACE] releaseTrackEvent end\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
}

// The events a run sends: `page` is what the page sent before the end.
std::vector<std::pair<std::string, std::string>> RunEnd(
    const std::vector<std::pair<std::string, std::string>>& page, bool endedByException,
    std::string* log = nullptr) {
    stubtest::BridgeFixture bridge;
    std::vector<std::pair<std::string, std::string>> sent;
    bridge.Methods().SetSender(std::make_unique<RecordingSender>(sent));
    bridge.Methods().Tracking() = {};
    bridge.Methods().Tracking().channel = "web";
    for (const auto& [event, properties] : page) {
        stubtest::CallMethod(bridge, "trackingByAnalyticsSDK", {event, properties});
    }
    bridge.Methods().SendFinalEvent(endedByException);
    if (log != nullptr) {
        *log = bridge.LogText();
    }
    return sent;
}

TEST(TrackerTest, TheRunEndsWithOneCompletionEvent) {
    using Events = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(
        RunEnd({}, false),
        (Events{{"install.completed",
                 "install.completed=CNX|install.fail-reason=UserCanceled|install.channel=web"}}));
    // A completion the tracker refuses does not count.
    const Events failed = RunEnd({{"install.completed", "bad"}}, true);
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[1].second,
              "install.completed=NOK|install.fail-reason=UnknowError|install.channel=web");
    // The page's own: nothing is added at the end.
    std::string log;
    EXPECT_EQ(RunEnd({{"install.completed", "install.completed=OK"}}, false, &log).size(), 1u);
    EXPECT_NE(log.find("TrackingByAnalyticsSDKThreadFunc: event=\"install.completed\", "
                       "properties=\"install.completed=OK|install.channel=web\""),
              std::string::npos);
}

}  // namespace
