// The registry methods as a page calls them, on the fixture's private store.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/registry.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"

namespace {

namespace reg = stubframework::platform::registry;
namespace platform = stubframework::platform;
using stubtest::CallMethod;

constexpr const char* kApp = "HKLM\\SOFTWARE\\Acme\\App";

class RegistryMethodsTest : public ::testing::Test {
protected:
    static void Put(reg::View view, const std::string& path, const std::string& name,
                    std::uint32_t type, const std::vector<std::uint8_t>& data) {
        reg::Key key;
        ASSERT_EQ(reg::CreateKey(reg::Root::LocalMachine, path, view, key),
                  platform::kErrorSuccess);
        ASSERT_EQ(reg::SetValue(key, name, type, data), platform::kErrorSuccess);
    }
    static bool Exists(const std::string& path, reg::View view) {
        reg::Key key;
        return reg::OpenKey(reg::Root::LocalMachine, path, view, reg::Access::Read, key) ==
               platform::kErrorSuccess;
    }
    std::string Read(const std::string& key, const std::string& name) {
        return CallMethod(bridge_, "getDataFromReg", {key, name}).Text();
    }

    stubtest::BridgeFixture bridge_;
};

TEST_F(RegistryMethodsTest, BaseKeyIsTheProductsOwn) {
    const auto call = CallMethod(bridge_, "getBaseRegKey", {});
    const std::string base = "HKEY_CURRENT_USER\\SOFTWARE\\Zelvo\\stubframework\\Brindlemark\\24";
    EXPECT_EQ(call.Text(), base);
    EXPECT_NE(call.log.find("EMGetBaseRegKey\r\n"), std::string::npos) << call.log;
    EXPECT_NE(call.log.find("EMGetBaseRegKey " + base + "\r\n"), std::string::npos) << call.log;
}

TEST_F(RegistryMethodsTest, ReadsTheSixtyFourBitViewThenTheThirtyTwoBitView) {
    // Only in WOW6432Node: the 64-bit view misses it, the 32-bit view has it.
    Put(reg::View::Wow64_32, "SOFTWARE\\Acme\\App", "only32", reg::kRegSz, reg::TextData("old"));
    EXPECT_FALSE(Exists("SOFTWARE\\Acme\\App", reg::View::Wow64_64));
    const auto call = CallMethod(bridge_, "getDataFromReg", {kApp, "only32"});
    EXPECT_EQ(call.Text(), "old");
    EXPECT_NE(call.log.find("EMGetDataFromReg\r\n"), std::string::npos) << call.log;
    EXPECT_NE(
        call.log.find("EMGetDataFromReg args only32 " + std::string(kApp) + ", Result old\r\n"),
        std::string::npos)
        << call.log;

    // Both views: the 64-bit one wins.
    Put(reg::View::Wow64_64, "SOFTWARE\\Acme\\App", "both", reg::kRegSz, reg::TextData("64"));
    Put(reg::View::Wow64_32, "SOFTWARE\\Acme\\App", "both", reg::kRegSz, reg::TextData("32"));
    EXPECT_EQ(Read(kApp, "both"), "64");
    EXPECT_EQ(Read(kApp, "missing"), "");
}

TEST_F(RegistryMethodsTest, DataFitsTheReadersBufferOrCountsAsAbsent) {
    const std::string fits(259, 'a');
    Put(reg::View::Wow64_64, "SOFTWARE\\Acme\\App", "fits", reg::kRegSz, reg::TextData(fits));
    Put(reg::View::Wow64_64, "SOFTWARE\\Acme\\App", "long", reg::kRegSz,
        reg::TextData(std::string(260, 'a')));
    // The buffer counts UTF-16 units: 259 euro signs fit though their UTF-8 takes 777 bytes.
    std::string wide;
    for (int i = 0; i < 259; ++i) {
        wide += "\xE2\x82\xAC";
    }
    Put(reg::View::Wow64_64, "SOFTWARE\\Acme\\App", "wide", reg::kRegSz, reg::TextData(wide));
    Put(reg::View::Wow64_64, "SOFTWARE\\Acme\\App", "dword", reg::kRegDword,
        {0xFF, 0xFF, 0xFF, 0xFF});
    Put(reg::View::Wow64_64, "SOFTWARE\\Acme\\App", "seven", reg::kRegDword, {7, 0, 0, 0});
    EXPECT_EQ(Read(kApp, "fits"), fits);
    EXPECT_EQ(Read(kApp, "long"), "");
    EXPECT_EQ(Read(kApp, "wide"), wide);
    EXPECT_EQ(Read(kApp, "dword"), "-1");
    EXPECT_EQ(Read(kApp, "seven"), "7");
}

TEST_F(RegistryMethodsTest, WritesAndDeletesInTheChosenView) {
    const auto write64 = CallMethod(bridge_, "setDataToReg", {kApp, "v", "sixty-four", true});
    EXPECT_EQ(write64.hr, S_OK);
    EXPECT_NE(write64.log.find("EMSetDataToReg -1, sixty-four, v, " + std::string(kApp) + "\r\n"),
              std::string::npos)
        << write64.log;
    const auto write32 = CallMethod(bridge_, "setDataToReg", {kApp, "v", "thirty-two", false});
    EXPECT_NE(write32.log.find("EMSetDataToReg 0, thirty-two, v, " + std::string(kApp) + "\r\n"),
              std::string::npos)
        << write32.log;
    EXPECT_TRUE(Exists("SOFTWARE\\Acme\\App", reg::View::Wow64_64));
    EXPECT_TRUE(Exists("SOFTWARE\\WOW6432Node\\Acme\\App", reg::View::Wow64_64));
    EXPECT_EQ(Read(kApp, "v"), "sixty-four");

    // The 64-bit copy goes; the reader falls back to the 32-bit one.
    const auto remove64 = CallMethod(bridge_, "deleteRegKey", {kApp, true});
    EXPECT_NE(remove64.log.find("EMDeleteRegKey\r\n"), std::string::npos) << remove64.log;
    EXPECT_NE(remove64.log.find("EMDeleteRegKey -1, " + std::string(kApp) + "\r\n"),
              std::string::npos)
        << remove64.log;
    EXPECT_FALSE(Exists("SOFTWARE\\Acme\\App", reg::View::Wow64_64));
    EXPECT_EQ(Read(kApp, "v"), "thirty-two");

    // A key with a subkey stays; the subkey itself goes.
    CallMethod(bridge_, "setDataToReg", {std::string(kApp) + "\\Sub", "v", "x", false});
    const auto kept = CallMethod(bridge_, "deleteRegKey", {kApp, false});
    EXPECT_NE(kept.log.find("EMDeleteRegKey 0, " + std::string(kApp) + "\r\n"), std::string::npos);
    EXPECT_EQ(Read(kApp, "v"), "thirty-two");
    CallMethod(bridge_, "deleteRegKey", {std::string(kApp) + "\\Sub", false});
    EXPECT_EQ(Read(std::string(kApp) + "\\Sub", "v"), "");
    CallMethod(bridge_, "deleteRegKey", {kApp, false});
    EXPECT_FALSE(Exists("SOFTWARE\\Acme\\App", reg::View::Wow64_32));
}

TEST_F(RegistryMethodsTest, RootWithoutBackslashAndUnknownRoots) {
    // "HKLM" alone names the subkey HKLM of HKEY_LOCAL_MACHINE.
    CallMethod(bridge_, "setDataToReg", {"HKLM", "v", "rooted", true});
    EXPECT_TRUE(Exists("HKLM", reg::View::Wow64_64));
    EXPECT_EQ(Read("hkey_local_machine\\HKLM", "v"), "rooted");
    EXPECT_EQ(Read("HKLM", "v"), "rooted");

    const auto write = CallMethod(bridge_, "setDataToReg", {"HKXX\\Acme", "v", "x", true});
    EXPECT_EQ(write.hr, S_OK);
    EXPECT_EQ(Read("HKXX\\Acme", "v"), "");
    EXPECT_EQ(CallMethod(bridge_, "deleteRegKey", {"HKXX\\Acme", true}).hr, S_OK);
    const auto search = CallMethod(bridge_, "searchRegKey", {true, "HKXX\\Acme", "a", "v"});
    EXPECT_EQ(search.hr, S_OK);
    EXPECT_FALSE(search.Bool());
}

TEST_F(RegistryMethodsTest, SearchAnswersThroughThePage) {
    Put(reg::View::Wow64_64, "SOFTWARE\\Acme\\Suite\\16.0\\Word\\InstallRoot", "path", reg::kRegSz,
        reg::TextData("/opt/word"));
    const auto found =
        CallMethod(bridge_, "searchRegKey",
                   {true, "HKLM\\SOFTWARE\\Acme\\Suite", "Excel;Word\\InstallRoot", "path"});
    EXPECT_TRUE(found.Bool());
    EXPECT_NE(found.log.find("EMSearchRegKey\r\n"), std::string::npos) << found.log;
    EXPECT_NE(found.log.find("EMSearchRegKey -1 HKLM\\SOFTWARE\\Acme\\Suite "
                             "Excel;Word\\InstallRoot path\r\n"),
              std::string::npos)
        << found.log;
    // Not in the 32-bit view.
    EXPECT_FALSE(CallMethod(bridge_, "searchRegKey",
                            {false, "HKLM\\SOFTWARE\\Acme\\Suite", "Word\\InstallRoot", "path"})
                     .Bool());
}

}  // namespace
