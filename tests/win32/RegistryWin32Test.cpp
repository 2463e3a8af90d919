// The registry calls over the real Windows registry: exact bytes, the
// errors callers test for, and the 32-bit view's redirection.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/crypto.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "support/RegistryCalls.h"

namespace {

namespace crypto = stubframework::platform::crypto;
namespace reg = stubframework::platform::registry;
namespace platform = stubframework::platform;
using Bytes = std::vector<std::uint8_t>;

// Every test works below a key of its own, under both roots it writes to,
// and removes it in every view afterwards.
class RegistryWin32Test : public ::testing::Test, protected stubtest::RegistryCalls {
protected:
    void TearDown() override {
        for (const View view : {View::Wow64_32, View::Wow64_64}) {
            reg::DeleteTree(Root::CurrentUser, user_, view);
            reg::DeleteTree(Root::LocalMachine, machine_, view);
        }
    }

    const std::string id_ = crypto::NewGuidText();
    // HKCU\Software is shared by both views; HKLM\SOFTWARE is not.
    const std::string user_ = "Software\\StubWin32Test-" + id_;
    const std::string machine_ = "SOFTWARE\\StubWin32Test-" + id_;
    const std::string machine32_ = "SOFTWARE\\WOW6432Node\\StubWin32Test-" + id_;
};

// --- values -------------------------------------------------------------------

TEST_F(RegistryWin32Test, EveryTypeRoundTripsItsExactBytes) {
    reg::Key key = Create(Root::CurrentUser, user_);
    Bytes large(1 << 20);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<std::uint8_t>(i * 7);
    }
    const std::vector<std::pair<std::uint32_t, Bytes>> cases = {
        {reg::kRegSz, reg::TextData("Grüße 😀")},
        {reg::kRegExpandSz, reg::TextData("%TEMP%\\x")},
        // Text without its null, and of an odd length: stored as given, not
        // completed by Windows.
        {reg::kRegSz, {'a', 0, 'b', 0}},
        {reg::kRegSz, {'a', 0, 'b'}},
        {reg::kRegMultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {reg::kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}},
        {reg::kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}},
        {reg::kRegBinary, {0, 0, 1, 0}},
        {reg::kRegBinary, {}},
        {reg::kRegSz, {}},
        {reg::kRegNone, {}},
        {reg::kRegBinary, large},
        {0x1234, {9}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        // Names in creation order also in name order: Wine enumerates values
        // sorted, Windows in creation order.
        const std::string name = (i < 10 ? "v0" : "v") + std::to_string(i);
        ASSERT_EQ(reg::SetValue(key, name, cases[i].first, cases[i].second),
                  platform::kErrorSuccess);
        std::uint32_t type = 99;
        Bytes data{42};
        ASSERT_EQ(reg::QueryValue(key, name, type, data), platform::kErrorSuccess) << name;
        EXPECT_EQ(type, cases[i].first) << name;
        EXPECT_EQ(data, cases[i].second) << name;

        std::string enumerated;
        type = 99;
        data.assign(1, 42);
        ASSERT_EQ(reg::EnumValue(key, static_cast<std::uint32_t>(i), enumerated, &type, &data),
                  platform::kErrorSuccess);
        EXPECT_EQ(enumerated, name);
        EXPECT_EQ(type, cases[i].first) << name;
        EXPECT_EQ(data, cases[i].second) << name;
    }
}

TEST_F(RegistryWin32Test, OverwriteAndDeleteOfValues) {
    reg::Key key = Create(Root::CurrentUser, user_);
    SetText(key, "Ä-Name", "a long text");
    ASSERT_EQ(reg::SetValue(key, "ä-NAME", reg::kRegDword, Bytes{1, 0, 0, 0}),
              platform::kErrorSuccess);
    std::uint32_t type = 0;
    Bytes data;
    ASSERT_EQ(reg::QueryValue(key, "ä-name", type, data), platform::kErrorSuccess);
    EXPECT_EQ(type, reg::kRegDword);
    EXPECT_EQ(data, (Bytes{1, 0, 0, 0}));

    SetText(key, "", "default");
    EXPECT_EQ(GetText(key, ""), "default");

    EXPECT_EQ(reg::DeleteValue(key, "Ä-NAME"), platform::kErrorSuccess);
    EXPECT_EQ(reg::QueryValue(key, "Ä-Name", type, data), platform::kErrorFileNotFound);
    EXPECT_EQ(reg::DeleteValue(key, "Ä-Name"), platform::kErrorFileNotFound);
    // A name ends at its null, as at any Win32 call.
    using namespace std::string_literals;
    SetText(key, "cut\0hidden"s, "x");
    EXPECT_EQ(GetText(key, "cut"), "x");
}

// --- keys ---------------------------------------------------------------------

TEST_F(RegistryWin32Test, MissingAndMalformedKeys) {
    reg::Key key;
    EXPECT_EQ(Open(Root::CurrentUser, user_, View::Default, key), platform::kErrorFileNotFound);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(Open(Root::CurrentUser, "\\" + user_, View::Default, key), platform::kErrorBadKey);
    EXPECT_EQ(reg::CreateKey(Root::CurrentUser, user_ + "\\a\\\\b", View::Default, key),
              platform::kErrorBadKey);
    EXPECT_EQ(
        reg::CreateKey(Root::CurrentUser, user_ + "\\" + std::string(256, 'k'), View::Default, key),
        platform::kErrorInvalidParameter);
    EXPECT_FALSE(key.IsOpen());
    // None of the refused paths was made.
    EXPECT_EQ(Open(Root::CurrentUser, user_, View::Default, key), platform::kErrorFileNotFound);

    bool created = false;
    ASSERT_EQ(reg::CreateKey(Root::CurrentUser, user_ + "\\Äpfel\\", View::Default, key, &created),
              platform::kErrorSuccess);
    EXPECT_TRUE(created);
    EXPECT_EQ(key.Path(), user_ + "\\Äpfel");
    ASSERT_EQ(reg::CreateKey(Root::CurrentUser, user_ + "\\äPFEL", View::Default, key, &created),
              platform::kErrorSuccess);
    EXPECT_FALSE(created);
    EXPECT_EQ(key.Path(), user_ + "\\äPFEL");  // as this caller spelled it

    EXPECT_EQ(Open(Root::DynData, "", View::Default, key), platform::kErrorInvalidHandle);
    EXPECT_EQ(reg::CreateKey(Root::DynData, "X", View::Default, key),
              platform::kErrorInvalidHandle);
    EXPECT_EQ(reg::DeleteTree(Root::DynData, "X", View::Default), platform::kErrorInvalidHandle);
}

TEST_F(RegistryWin32Test, HandlesKeepTheirAccessAndOutliveNothing) {
    SetText(Create(Root::CurrentUser, user_), "v", "kept");
    reg::Key reader;
    ASSERT_EQ(Open(Root::CurrentUser, user_, View::Default, reader), platform::kErrorSuccess);
    EXPECT_EQ(reg::SetValue(reader, "v", reg::kRegSz, reg::TextData("new")),
              platform::kErrorAccessDenied);
    EXPECT_EQ(reg::DeleteValue(reader, "v"), platform::kErrorAccessDenied);
    reg::Key writer;
    ASSERT_EQ(reg::OpenSubKey(reader, "", Access::All, writer), platform::kErrorSuccess);
    EXPECT_EQ(writer.Path(), user_);
    SetText(writer, "v", "new");
    EXPECT_EQ(GetText(reader, "v"), "new");

    reg::Key moved = std::move(writer);
    moved.Close();
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(reg::QueryValue(moved, "v", type, data), platform::kErrorInvalidHandle);
    EXPECT_EQ(reg::SetValue(writer, "v", reg::kRegNone, {}), platform::kErrorInvalidHandle);
    EXPECT_EQ(moved.Path(), "");

    // A handle whose key was deleted says so, even after a key of the same
    // name is made again.
    reg::Key old = Create(Root::CurrentUser, user_ + "\\App");
    ASSERT_EQ(reg::DeleteTree(Root::CurrentUser, user_, View::Default), platform::kErrorSuccess);
    Create(Root::CurrentUser, user_ + "\\App");
    std::string name;
    reg::Key sub;
    EXPECT_EQ(reg::QueryValue(old, "v", type, data), platform::kErrorKeyDeleted);
    EXPECT_EQ(reg::SetValue(old, "v", reg::kRegSz, reg::TextData("y")), platform::kErrorKeyDeleted);
    EXPECT_EQ(reg::EnumKey(old, 0, name), platform::kErrorKeyDeleted);
    EXPECT_EQ(reg::EnumValue(old, 0, name), platform::kErrorKeyDeleted);
    EXPECT_EQ(reg::OpenSubKey(old, "", Access::Read, sub), platform::kErrorKeyDeleted);
}

// --- enumeration and deletion ---------------------------------------------------

TEST_F(RegistryWin32Test, EnumerationEndsWithNoMoreItems) {
    reg::Key parent = Create(Root::CurrentUser, user_);
    // Windows sorts upper-cased names, Wine lower-cased ones: no '_' here.
    for (const char* name : {"b", "Äpfel", "C", "a", "B2"}) {
        Create(Root::CurrentUser, user_ + "\\" + name);
    }
    EXPECT_EQ(SubKeys(parent), (std::vector<std::string>{"a", "b", "B2", "C", "Äpfel"}));
    std::string name;
    EXPECT_EQ(reg::EnumValue(parent, 0, name), platform::kErrorNoMoreItems);
    SetText(parent, "only", "1");
    ASSERT_EQ(reg::EnumValue(parent, 0, name), platform::kErrorSuccess);
    EXPECT_EQ(name, "only");
    EXPECT_EQ(reg::EnumValue(parent, 1, name), platform::kErrorNoMoreItems);
}

TEST_F(RegistryWin32Test, DeleteKeyRefusesSubKeysAndDeleteTreeTakesThem) {
    SetText(Create(Root::CurrentUser, user_ + "\\A\\B\\C"), "v", "x");
    SetText(Create(Root::CurrentUser, user_ + "\\AB"), "keep", "yes");
    EXPECT_EQ(reg::DeleteKey(Root::CurrentUser, user_ + "\\A", View::Default),
              platform::kErrorAccessDenied);
    EXPECT_EQ(reg::DeleteKey(Root::CurrentUser, user_ + "\\A\\Missing", View::Default),
              platform::kErrorFileNotFound);
    EXPECT_EQ(reg::DeleteKey(Root::CurrentUser, user_ + "\\a\\b\\c", View::Default),
              platform::kErrorSuccess);

    ASSERT_EQ(reg::DeleteTree(Root::CurrentUser, user_ + "\\A", View::Default),
              platform::kErrorSuccess);
    reg::Key key;
    EXPECT_EQ(Open(Root::CurrentUser, user_ + "\\A", View::Default, key),
              platform::kErrorFileNotFound);
    ASSERT_EQ(Open(Root::CurrentUser, user_ + "\\AB", View::Default, key), platform::kErrorSuccess);
    EXPECT_EQ(GetText(key, "keep"), "yes");
    EXPECT_EQ(reg::DeleteTree(Root::CurrentUser, user_ + "\\A", View::Default),
              platform::kErrorFileNotFound);

    EXPECT_EQ(reg::DeleteKey(Root::CurrentUser, "", View::Default), platform::kErrorAccessDenied);
    EXPECT_EQ(reg::DeleteTree(Root::LocalMachine, "", View::Wow64_64),
              platform::kErrorAccessDenied);
}

// --- views ----------------------------------------------------------------------

TEST_F(RegistryWin32Test, ThirtyTwoBitWritesLandUnderWow6432Node) {
    reg::Key written = Create(Root::LocalMachine, machine_ + "\\App");
    EXPECT_EQ(written.Path(), machine32_ + "\\App");
    SetText(written, "v", "32");

    reg::Key key;
    ASSERT_EQ(Open(Root::LocalMachine, machine32_ + "\\App", View::Wow64_64, key),
              platform::kErrorSuccess);
    EXPECT_EQ(GetText(key, "v"), "32");
    EXPECT_EQ(Open(Root::LocalMachine, machine_, View::Wow64_64, key),
              platform::kErrorFileNotFound);
    ASSERT_EQ(Open(Root::LocalMachine, machine_ + "\\app", View::Wow64_32, key),
              platform::kErrorSuccess);
    EXPECT_EQ(GetText(key, "v"), "32");

    // The 64-bit view's own key is apart, and the 32-bit view does not see it.
    SetText(Create(Root::LocalMachine, machine_, View::Wow64_64), "v", "64");
    ASSERT_EQ(Open(Root::LocalMachine, machine_, View::Wow64_64, key), platform::kErrorSuccess);
    EXPECT_EQ(key.Path(), machine_);
    EXPECT_EQ(SubKeys(key), std::vector<std::string>{});
    ASSERT_EQ(Open(Root::LocalMachine, machine_, View::Default, key), platform::kErrorSuccess);
    EXPECT_EQ(GetText(key, "v"), std::nullopt);
    EXPECT_EQ(SubKeys(key), std::vector<std::string>{"App"});
}

TEST_F(RegistryWin32Test, CurrentUserSoftwareIsSharedByBothViews) {
    SetText(Create(Root::CurrentUser, user_, View::Wow64_32), "v", "shared");
    reg::Key key;
    ASSERT_EQ(Open(Root::CurrentUser, user_, View::Wow64_64, key), platform::kErrorSuccess);
    EXPECT_EQ(key.Path(), user_);
    EXPECT_EQ(GetText(key, "v"), "shared");
}

TEST_F(RegistryWin32Test, SubKeysFollowTheViewOfTheirParent) {
    SetText(Create(Root::LocalMachine, machine_), "v", "32");
    reg::Key root32;
    ASSERT_EQ(Open(Root::LocalMachine, "", View::Default, root32), platform::kErrorSuccess);
    reg::Key sub;
    ASSERT_EQ(reg::OpenSubKey(root32, machine_, Access::Read, sub), platform::kErrorSuccess);
    EXPECT_EQ(sub.Path(), machine32_);
    EXPECT_EQ(GetText(sub, "v"), "32");

    reg::Key software64;
    ASSERT_EQ(Open(Root::LocalMachine, "SOFTWARE", View::Wow64_64, software64),
              platform::kErrorSuccess);
    EXPECT_EQ(reg::OpenSubKey(software64, "StubWin32Test-" + id_, Access::Read, sub),
              platform::kErrorFileNotFound);
    EXPECT_FALSE(sub.IsOpen());
    ASSERT_EQ(reg::OpenSubKey(software64, "WOW6432Node\\StubWin32Test-" + id_, Access::Read, sub),
              platform::kErrorSuccess);
    EXPECT_EQ(GetText(sub, "v"), "32");
}

TEST_F(RegistryWin32Test, DeletingInOneViewLeavesTheOther) {
    Create(Root::LocalMachine, machine_ + "\\Sub", View::Wow64_64);
    Create(Root::LocalMachine, machine_ + "\\Sub", View::Wow64_32);
    ASSERT_EQ(reg::DeleteTree(Root::LocalMachine, machine_, View::Default),
              platform::kErrorSuccess);
    reg::Key key;
    EXPECT_EQ(Open(Root::LocalMachine, machine_ + "\\Sub", View::Wow64_64, key),
              platform::kErrorSuccess);
    EXPECT_EQ(Open(Root::LocalMachine, machine_, View::Wow64_32, key),
              platform::kErrorFileNotFound);

    Create(Root::LocalMachine, machine_ + "\\Sub", View::Wow64_32);
    EXPECT_EQ(reg::DeleteKey(Root::LocalMachine, machine_ + "\\Sub", View::Wow64_64),
              platform::kErrorSuccess);
    EXPECT_EQ(Open(Root::LocalMachine, machine_ + "\\Sub", View::Wow64_32, key),
              platform::kErrorSuccess);
}

}  // namespace
