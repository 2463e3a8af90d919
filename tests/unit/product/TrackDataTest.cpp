// The tracker's texts: the settings file, the event property check and the
// JSON the tracker page receives.
#include <gtest/gtest.h>

#include <string>

#include "TrackData.h"
#include "TrackerSettings.h"

namespace {

using namespace myexternalmethods;

TEST(TrackerSettingsTest, TheFirstLineWhoseKeyHoldsTheNameWinsAndIsUsedUp) {
    TrackerSettings settings;
    ApplyTrackerConfig("# LOGGING_ENABLED=true\nLOGGING_ENABLED=TRUE\n", settings);
    EXPECT_TRUE(settings.loggingEnabled);

    // A carriage return stays in the value; a key only has to hold the name.
    settings = {};
    ApplyTrackerConfig("LOGGING_ENABLED=true\r\nXALERTING_ENABLED=True\n", settings);
    EXPECT_FALSE(settings.loggingEnabled);
    EXPECT_TRUE(settings.alertingEnabled);

    // Too short, no "=", "=" first or last: ignored. A line used by one
    // setting is not read again by the next.
    settings = {};
    ApplyTrackerConfig(
        "a=\n=x\nTRACKING_ENVIRONMENT\nx\nTRACKING_ENVIRONMENT=Staging \nONLINE_CONTAINER_"
        "TRACKING_ENVIRONMENT=x\nONLINE_CONTAINER=https://t.example/Page.html",
        settings);
    EXPECT_EQ(settings.trackingEnvironment, "staging ");
    EXPECT_EQ(settings.containerUrl, "x");
    EXPECT_FALSE(settings.loggingEnabled);
}

TEST(TrackDataTest, EventPropertiesArePairsBetweenBars) {
    EXPECT_TRUE(PropertiesPatternOk(""));
    EXPECT_TRUE(PropertiesPatternOk("|a=1||b=2|"));
    EXPECT_TRUE(PropertiesPatternOk("a==1"));
    EXPECT_FALSE(PropertiesPatternOk("a=1|b"));
    EXPECT_FALSE(PropertiesPatternOk("a=1=2"));
    EXPECT_FALSE(PropertiesPatternOk("="));
}

TEST(TrackDataTest, TheEventTextInItsOrderWithValuesEscaped) {
    TrackerSettings settings;
    settings.productId = "Brindlemark";
    TrackerCoreData core;
    core.productName = "Brindlemark";
    core.appName = "Brindlemark Windows";
    core.hwid = "V2D41D8CD98F00B204E9800998ECF8427E";
    core.operatingSystem = "Linux";
    core.memorySize = "8GB";
    const std::string head =
        "{\n\"productId\":\"Brindlemark\",\n\"eventName\":\"install.start\",\n"
        "\"alertingEnabled\":false,\n\"loggingEnabled\":false,\n"
        "\"trackingEnvironment\":\"production\",\n\"coreData\": {\n"
        "\"productName\":\"Brindlemark\",\n\"appName\":\"Brindlemark Windows\",\n"
        "\"licenseType\":\"LICENSE_TYPE_UNKNOWN\",\n\"licenseStatus\":\"LICENSE_STATUS_UNKNOWN\",\n"
        "\"operatingSystem\":\"Linux\",\n\"hwid\":\"V2D41D8CD98F00B204E9800998ECF8427E\",\n"
        "\"memorySize\":\"8GB\",\n\"pirated\":false\n},\n\"eventData\": {\n";
    EXPECT_EQ(TrackDataText(settings, core, "install.start", ""), head + "}\n}\n");
    EXPECT_EQ(TrackDataText(settings, core, "install.start", "|a=1||file=C:\\x\"y|"),
              head + "\"a\":\"1\",\n\"file\":\"C:\\\\x\\\"y\"}\n}\n");
    EXPECT_EQ(CoreDataLogText(settings, core),
              "productId=Brindlemark|productName=Brindlemark|appName=Brindlemark Windows"
              "|buildNumber=|language=|licenseId=|sourceId=|licenseKey="
              "|licenseType=LICENSE_TYPE_UNKNOWN|licenseStatus=LICENSE_STATUS_UNKNOWN"
              "|operatingSystem=Linux|bitness=|osVersion="
              "|hwid=V2D41D8CD98F00B204E9800998ECF8427E|emailaddress=|subscriptionid="
              "|pirated=false|alertingEnabled=false|loggingEnabled=false"
              "|trackingEnvironment=production");
    EXPECT_EQ(LicenseTypeText(15), "LICENSE_TYPE_SUBSCRIPTION");
    EXPECT_EQ(LicenseStatusText(1), "LICENSE_STATUS_ACTIVE");
}

}  // namespace
