// The operating-system, language and region methods as a page calls them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "core/FrameworkCore.h"
#include "core/MinimumOs.h"
#include "core/RegistryText.h"
#include "platform/posix/Network.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"
#include "support/WebServiceMock.h"
#include "telemetry/ReportDocuments.h"
#include "telemetry/WebServiceClient.h"

namespace {

using stubframework::core::MachineIdDigest;
using stubframework::core::MeetsMinimumOs;
using stubtest::CallMethod;

bool Has(const std::string& log, const std::string& line) {
    return log.find(line) != std::string::npos;
}

TEST(MinimumOsTest, ComparesWithTheNamedWindowsVersion) {
    EXPECT_TRUE(MeetsMinimumOs(10, 0, "Windows 7"));
    EXPECT_TRUE(MeetsMinimumOs(6, 3, "Windows 8.1"));
    EXPECT_FALSE(MeetsMinimumOs(6, 2, "Windows 8.1"));
    EXPECT_FALSE(MeetsMinimumOs(6, 3, "Windows 10"));
    EXPECT_TRUE(MeetsMinimumOs(5, 1, "Windows XP"));
    EXPECT_FALSE(MeetsMinimumOs(6, 0, "Windows 7 SP1"));
    // Anything else asks for Windows 7, in exact spelling only.
    EXPECT_FALSE(MeetsMinimumOs(6, 0, "windows vista"));
    EXPECT_TRUE(MeetsMinimumOs(6, 1, ""));
}

TEST(MachineIdDigestTest, HashesTheLowByteOfEachUtf16Unit) {
    EXPECT_EQ(MachineIdDigest(""), "");
    EXPECT_EQ(MachineIdDigest("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // "A", U+00E9 and U+20AC give the bytes 41 E9 AC.
    EXPECT_EQ(MachineIdDigest("A\xC3\xA9\xE2\x82\xAC"),
              "402e634c0bffb2c12e0d0ee3e1f713b4d153e9011474d0ea68f15d9cae28966a");
}

TEST(NetworkRouteTest, OnlyAnUpDefaultRouteThroughAUsableInterfaceCounts) {
    const auto usable = [](const std::string& name) { return name != "lo" && name != "down0"; };
    const std::string header =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const std::string local =
        header + "eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
    EXPECT_FALSE(stubframework::platform::posix::HasDefaultRoute(local, "", usable));
    const std::string viaEth =
        local + "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
    EXPECT_TRUE(stubframework::platform::posix::HasDefaultRoute(viaEth, "", usable));
    const std::string notUp =
        header + "eth0\t00000000\t0102A8C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n";
    EXPECT_FALSE(stubframework::platform::posix::HasDefaultRoute(notUp, "", usable));
    const std::string downInterface =
        header + "down0\t00000000\t0102A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    EXPECT_FALSE(stubframework::platform::posix::HasDefaultRoute(downInterface, "", usable));

    const std::string zero(32, '0');
    const std::string loopback6 =
        zero + " 00 " + zero + " 00 " + zero + " ffffffff 00000001 00000000 00200200       lo\n";
    EXPECT_FALSE(stubframework::platform::posix::HasDefaultRoute(header, loopback6, usable));
    const std::string viaWlan6 = loopback6 + zero + " 00 " + zero +
                                 " 00 fe800000000000000000000000000001" +
                                 " 00000400 00000001 00000000 00450003    wlan0\n";
    EXPECT_TRUE(stubframework::platform::posix::HasDefaultRoute(header, viaWlan6, usable));
    EXPECT_FALSE(stubframework::platform::posix::HasDefaultRoute("", "garbage\n\n", usable));
}

class SystemMethodsTest : public ::testing::Test {
protected:
    stubtest::BridgeFixture bridge_;
};

TEST_F(SystemMethodsTest, LanguagesMapByIdAndExactCode) {
    EXPECT_EQ(CallMethod(bridge_, "getParsedInstallLanguage", {"EN"}).Int(), 0);
    EXPECT_EQ(CallMethod(bridge_, "getParsedInstallLanguage", {"en"}).Int(), 1);
    EXPECT_EQ(CallMethod(bridge_, "getParsedInstallLanguage", {"zu"}).Int(), 107);
    EXPECT_EQ(CallMethod(bridge_, "getLanguageByID", {1050}).Int(), 80);
    EXPECT_EQ(CallMethod(bridge_, "getLanguageByID", {4122}).Int(), 29);
    EXPECT_EQ(CallMethod(bridge_, "getLanguageByID", {2055}).Int(), 3);
    // Only the low 16 bits are a language id.
    EXPECT_EQ(CallMethod(bridge_, "getLanguageByID", {0x10000 + 1036}).Int(), 2);
    {
        stubtest::ScopedEnv french("LC_ALL", "fr_CA.UTF-8");
        EXPECT_EQ(CallMethod(bridge_, "getOSLang", {}).Int(), 2);
    }

    CallMethod(bridge_, "setLang", {3});
    EXPECT_EQ(CallMethod(bridge_, "getProperty", {"lang"}).Text(), "de");
    auto& core = bridge_.Framework().Core();
    std::string stored;
    ASSERT_TRUE(
        stubframework::core::ReadRegistryText(core.RegistryBase(), "install_language", stored));
    EXPECT_EQ(stored, "German");
    // Numbers outside the table change nothing.
    for (const int outside : {108, -1}) {
        EXPECT_EQ(CallMethod(bridge_, "setLang", {outside}).hr, S_OK);
    }
    EXPECT_EQ(CallMethod(bridge_, "getProperty", {"lang"}).Text(), "de");
    EXPECT_EQ(core.InstallLanguage(), "German");

    const auto channel = CallMethod(bridge_, "setChannel", {"beta"});
    EXPECT_TRUE(Has(channel.log, "EMSetChannel: beta")) << channel.log;
    EXPECT_EQ(core.Channel(), "beta");
    ASSERT_TRUE(stubframework::core::ReadRegistryText(core.RegistryBase(), "channel", stored));
    EXPECT_EQ(stored, "beta");
}

TEST_F(SystemMethodsTest, TheSystemAnswersWithoutAWindowsVersion) {
    const std::string version = CallMethod(bridge_, "getOSVersion", {}).Text();
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(version.find_first_not_of("0123456789."), std::string::npos) << version;
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 1) << version;

    // No Windows version to compare on this system: only the bitness counts.
    const auto valid = CallMethod(bridge_, "checkOS", {"Windows 10", "x86"});
    EXPECT_TRUE(valid.Bool());
    EXPECT_TRUE(Has(valid.log, "EMCheckOS Result : OS valid")) << valid.log;
    const bool x64 = bridge_.Framework().Core().Architecture() == "x64";
    EXPECT_EQ(CallMethod(bridge_, "checkOS", {"Windows 10", "X64"}).Bool(), x64);
    EXPECT_EQ(CallMethod(bridge_, "getProperty", {"OSBitNotSupport"}).Text(), x64 ? "" : "true");

    for (const auto& [setting, connected] :
         {std::pair{"online", true}, std::pair{"offline", false}}) {
        stubtest::ScopedEnv network("STUB_NETWORK", setting);
        const auto call = CallMethod(bridge_, "isInternetConnected", {});
        EXPECT_EQ(call.Bool(), connected);
        EXPECT_TRUE(Has(call.log, std::string("EMIsInternetConnected: ") +
                                      (connected ? "connected" : "disconnected")))
            << call.log;
    }

    const auto id = CallMethod(bridge_, "getMachineId", {});
    const std::string digest = MachineIdDigest(bridge_.Framework().Core().MachineIdentifier());
    EXPECT_EQ(id.Text(), digest);
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_TRUE(Has(id.log, "EMGetMachineId Result : " + digest)) << id.log;
}

TEST_F(SystemMethodsTest, TheRegionIsEmbargoedOnlyOnAnExactTrue) {
    stubtest::WebServiceMock mock;
    stubframework::core::SetWebServiceHost(mock.BaseUrl());
    struct Case {
        const char* reply;
        bool embargoed;
        const char* country;
    };
    const Case cases[] = {
        {"<r><country>XY</country><isEmbargo>true</isEmbargo></r>", true, "XY"},
        {"<r><country>XY</country><isEmbargo>True</isEmbargo></r>", false, "XY"},
        {"<r><country>XY</country><isEmbargo> true</isEmbargo></r>", false, "XY"},
        {"<r><isEmbargo>false</isEmbargo></r>", false, ""},
        // A closing tag before the opening one is no element.
        {"</country><country>ZZ", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        mock.SetReply("/v1/isInEmbargoedCountry", c.reply);
        const auto call = CallMethod(bridge_, "isInEmbargoedCountry", {});
        EXPECT_EQ(call.Bool(), c.embargoed) << c.reply;
        EXPECT_EQ(CallMethod(bridge_, "getProperty", {"Country"}).Text(), c.country) << c.reply;
    }
    const auto last = mock.Requests().back();
    EXPECT_EQ(last.method, "POST");
    EXPECT_EQ(last.path, "/v1/isInEmbargoedCountry");
    auto& core = bridge_.Framework().Core();
    EXPECT_EQ(last.body, "<RegionRestrictions><token>" + core.RequestToken() +
                             "</token><productId>" + core.ProductId() + "</productId>" +
                             "<productVersion>" + core.ProductVersion() + "</productVersion>" +
                             "<channel>" + core.Channel() + "</channel><os>" + core.OsName() +
                             "</os><machineId>" + MachineIdDigest(core.MachineIdentifier()) +
                             "</machineId></RegionRestrictions>");

    // A reply past the cap, and a service that cannot be reached, answer no.
    mock.SetReply("/v1/isInEmbargoedCountry",
                  "<country>XY</country><isEmbargo>true</isEmbargo>" + std::string(70000, ' '));
    EXPECT_FALSE(CallMethod(bridge_, "isInEmbargoedCountry", {}).Bool());
    EXPECT_EQ(CallMethod(bridge_, "getProperty", {"Country"}).Text(), "");
    // A service that drops the connection without a word answers no too.
    mock.SetReply("/v1/isInEmbargoedCountry", "<country>XY</country><isEmbargo>true</isEmbargo>");
    mock.SetBehaviour("/v1/isInEmbargoedCountry", R"({"reset":true})");
    EXPECT_FALSE(CallMethod(bridge_, "isInEmbargoedCountry", {}).Bool());
    EXPECT_EQ(CallMethod(bridge_, "getProperty", {"Country"}).Text(), "");
    stubframework::core::SetWebServiceHost("https://127.0.0.1:1");
    const auto refused = CallMethod(bridge_, "isInEmbargoedCountry", {});
    EXPECT_FALSE(refused.Bool());
    EXPECT_TRUE(Has(refused.log, "EMIsInEmbargoedCountry:Result:  Country: ")) << refused.log;
}

}  // namespace
