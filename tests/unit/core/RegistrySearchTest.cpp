#include "core/RegistrySearch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/registry.h"
#include "support/TestFolder.h"

namespace {

using namespace stubframework::core;
namespace reg = stubframework::platform::registry;
using Paths = std::vector<std::string>;

constexpr const char* kSuite = "HKLM\\SOFTWARE\\Microsoft\\Office";

TEST(RelativePathMatchesTest, ComparesTheTailBeforeTheLastBackslash) {
    const std::string path = "SOFTWARE\\Microsoft\\Office\\16.0\\Word\\InstallRoot\\";
    EXPECT_TRUE(RelativePathMatches(path, "Word\\InstallRoot"));
    EXPECT_TRUE(RelativePathMatches(path, "word\\installroot"));
    EXPECT_TRUE(RelativePathMatches(path, "WORD\\INSTALLROOT"));
    EXPECT_TRUE(RelativePathMatches(path, "InstallRoot"));
    EXPECT_TRUE(RelativePathMatches(path, path.substr(0, path.size() - 1)));
    EXPECT_FALSE(RelativePathMatches(path, path));
    EXPECT_FALSE(RelativePathMatches(path, "\\" + path));
    EXPECT_FALSE(RelativePathMatches(path, "Excel\\InstallRoot"));
    EXPECT_FALSE(RelativePathMatches(path, "Word"));
    EXPECT_FALSE(RelativePathMatches(path, "Word\\InstallRoot\\"));
    // Letters fold beyond ASCII too.
    EXPECT_TRUE(RelativePathMatches("A\\\xC3\x89t\xC3\xA9\\", "\xC3\xA9T\xC3\x89"));
}

TEST(SplitRelativePathsTest, EmptyItemsAreSkipped) {
    EXPECT_EQ(SplitRelativePaths("a;b\\c"), (Paths{"a", "b\\c"}));
    EXPECT_EQ(SplitRelativePaths(";a;;b;"), (Paths{"a", "b"}));
    EXPECT_TRUE(SplitRelativePaths("").empty());
    EXPECT_TRUE(SplitRelativePaths(";;").empty());
}

class RegistrySearchTest : public ::testing::Test {
protected:
    static void Put(const std::string& path, const std::string& name,
                    reg::View view = reg::View::Wow64_64) {
        reg::Key key;
        ASSERT_EQ(reg::CreateKey(reg::Root::LocalMachine, path, view, key),
                  stubframework::platform::kErrorSuccess);
        ASSERT_EQ(reg::SetValue(key, name, reg::kRegSz, reg::TextData("x")),
                  stubframework::platform::kErrorSuccess);
    }
    static std::optional<std::string> Find(const Paths& relative, const std::string& key = kSuite,
                                           reg::View view = reg::View::Wow64_64) {
        return SearchRegistryKey(key, relative, "path", view);
    }

    stubtest::TestFolder store_;
    stubtest::ScopedEnv storeDir_{"STUB_REGISTRY_DIR", store_.Path()};
};

TEST_F(RegistrySearchTest, FindsAKeyHoldingTheValueByItsRelativePath) {
    Put("SOFTWARE\\Microsoft\\Office\\16.0\\Word\\InstallRoot", "Path");
    const std::string found = "SOFTWARE\\Microsoft\\Office\\16.0\\Word\\InstallRoot\\";
    EXPECT_EQ(Find({"Word\\InstallRoot"}), found);
    EXPECT_EQ(Find({"Excel", "word\\installroot"}), found);
    EXPECT_EQ(Find({"WORD\\INSTALLROOT"}), found);
    // A trailing backslash on the key does not double up.
    EXPECT_EQ(Find({"Word\\InstallRoot"}, std::string(kSuite) + "\\"), found);
    EXPECT_EQ(Find({"Office\\16.0\\Word\\InstallRoot"}, "HKEY_LOCAL_MACHINE\\SOFTWARE"),
              "SOFTWARE\\Microsoft\\Office\\16.0\\Word\\InstallRoot\\");
    // Longer than the key's path text: never.
    EXPECT_EQ(Find({"X\\" + found}), std::nullopt);
    EXPECT_EQ(Find({"Excel\\InstallRoot"}), std::nullopt);
    EXPECT_EQ(Find({}), std::nullopt);
    // Other views and missing keys find nothing.
    EXPECT_EQ(Find({"Word\\InstallRoot"}, kSuite, reg::View::Wow64_32), std::nullopt);
    EXPECT_EQ(Find({"Word\\InstallRoot"}, "HKLM\\SOFTWARE\\Nowhere"), std::nullopt);
}

TEST_F(RegistrySearchTest, AKeyHoldingTheValueEndsItsBranch) {
    // 16.0 holds the value but is no match: nothing below it is looked at.
    Put("SOFTWARE\\Microsoft\\Office\\16.0", "path");
    Put("SOFTWARE\\Microsoft\\Office\\16.0\\Word\\InstallRoot", "path");
    EXPECT_EQ(Find({"Word\\InstallRoot"}), std::nullopt);
    // Another branch still counts.
    Put("SOFTWARE\\Microsoft\\Office\\17.0\\Word\\InstallRoot", "path");
    EXPECT_EQ(Find({"Word\\InstallRoot"}),
              "SOFTWARE\\Microsoft\\Office\\17.0\\Word\\InstallRoot\\");
}

TEST_F(RegistrySearchTest, TheFirstMatchInEnumerationOrderEndsTheSearch) {
    Put("SOFTWARE\\Microsoft\\Office\\16.0\\Word\\InstallRoot", "path");
    Put("SOFTWARE\\Microsoft\\Office\\15.0\\Word\\InstallRoot", "path");
    Put("SOFTWARE\\Microsoft\\Office\\15.0\\Excel\\InstallRoot", "path");
    EXPECT_EQ(Find({"Word\\InstallRoot", "Excel\\InstallRoot"}),
              "SOFTWARE\\Microsoft\\Office\\15.0\\Excel\\InstallRoot\\");
    EXPECT_EQ(Find({"16.0\\Word\\InstallRoot"}),
              "SOFTWARE\\Microsoft\\Office\\16.0\\Word\\InstallRoot\\");
    // The 32-bit view searches WOW6432Node, under the path the page gave.
    Put("SOFTWARE\\Microsoft\\Office\\14.0\\Word\\InstallRoot", "path", reg::View::Wow64_32);
    EXPECT_EQ(Find({"Word\\InstallRoot"}, kSuite, reg::View::Wow64_32),
              "SOFTWARE\\Microsoft\\Office\\14.0\\Word\\InstallRoot\\");
}

}  // namespace
