#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/unicode.h"
#include "support/RegistryCalls.h"
#include "support/TestFolder.h"

namespace {

namespace reg = stubframework::platform::registry;
namespace platform = stubframework::platform;

using Bytes = std::vector<std::uint8_t>;

// Each child exits 0 when all its calls succeeded.
void ExpectChildrenSucceed(const std::vector<pid_t>& children) {
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
}

class RegistryTest : public ::testing::Test, protected stubtest::RegistryCalls {
protected:
    stubtest::TestFolder folder_;
    stubtest::ScopedEnv registryDir_{"STUB_REGISTRY_DIR", folder_.Path()};
};

// --- views ------------------------------------------------------------------

using RegistryViewTest = RegistryTest;

TEST_F(RegistryViewTest, ThirtyTwoBitSoftwareLivesUnderWow6432Node) {
    reg::Key written = Create(Root::LocalMachine, "SOFTWARE\\Zelvo\\App");
    EXPECT_EQ(written.Path(), "SOFTWARE\\WOW6432Node\\Zelvo\\App");
    SetText(written, "v", "32");

    reg::Key seen64;
    ASSERT_EQ(Open(Root::LocalMachine, "SOFTWARE\\WOW6432Node\\Zelvo\\App", View::Wow64_64, seen64),
              platform::kErrorSuccess);
    EXPECT_EQ(GetText(seen64, "v"), "32");
    EXPECT_EQ(Open(Root::LocalMachine, "SOFTWARE\\Zelvo\\App", View::Wow64_64, seen64),
              platform::kErrorFileNotFound);

    reg::Key explicit32;
    ASSERT_EQ(Open(Root::LocalMachine, "software\\zelvo\\app", View::Wow64_32, explicit32),
              platform::kErrorSuccess);
    EXPECT_EQ(GetText(explicit32, "v"), "32");
}

TEST_F(RegistryViewTest, RedirectionMatchesWholeFirstComponentOnly) {
    EXPECT_EQ(Create(Root::LocalMachine, "Software").Path(), "Software\\WOW6432Node");
    EXPECT_EQ(Create(Root::LocalMachine, "SOFTWARE\\wow6432node\\X").Path(),
              "SOFTWARE\\wow6432node\\X");
    EXPECT_EQ(Create(Root::LocalMachine, "SOFTWARE2\\X").Path(), "SOFTWARE2\\X");
    EXPECT_EQ(Create(Root::LocalMachine, "SYSTEM\\Software").Path(), "SYSTEM\\Software");
    EXPECT_EQ(Create(Root::ClassesRoot, "SOFTWARE\\X").Path(), "SOFTWARE\\X");
    EXPECT_EQ(Create(Root::LocalMachine, "SOFTWARE\\X", View::Wow64_64).Path(), "SOFTWARE\\X");
}

TEST_F(RegistryViewTest, SixtyFourBitWritesStayOutOfTheThirtyTwoBitView) {
    SetText(Create(Root::LocalMachine, "SOFTWARE\\Zelvo", View::Wow64_64), "v", "64");
    reg::Key key;
    EXPECT_EQ(Open(Root::LocalMachine, "SOFTWARE\\Zelvo", View::Default, key),
              platform::kErrorFileNotFound);
}

TEST_F(RegistryViewTest, CurrentUserIsSharedByBothViews) {
    SetText(Create(Root::CurrentUser, "Software\\Zelvo", View::Wow64_32), "v", "shared");
    reg::Key key;
    ASSERT_EQ(Open(Root::CurrentUser, "Software\\Zelvo", View::Wow64_64, key),
              platform::kErrorSuccess);
    EXPECT_EQ(key.Path(), "Software\\Zelvo");
    EXPECT_EQ(GetText(key, "v"), "shared");
}

TEST_F(RegistryViewTest, SubKeysFollowTheViewOfTheirParent) {
    Create(Root::LocalMachine, "SOFTWARE\\Zelvo");  // under WOW6432Node
    reg::Key root32;
    ASSERT_EQ(Open(Root::LocalMachine, "", View::Default, root32), platform::kErrorSuccess);
    reg::Key sub;
    ASSERT_EQ(reg::OpenSubKey(root32, "SOFTWARE\\Zelvo", Access::Read, sub),
              platform::kErrorSuccess);
    EXPECT_EQ(sub.Path(), "SOFTWARE\\WOW6432Node\\Zelvo");

    reg::Key software64;
    ASSERT_EQ(Open(Root::LocalMachine, "SOFTWARE", View::Wow64_64, software64),
              platform::kErrorSuccess);
    EXPECT_EQ(reg::OpenSubKey(software64, "Zelvo", Access::Read, sub),
              platform::kErrorFileNotFound);
    EXPECT_FALSE(sub.IsOpen());
    ASSERT_EQ(reg::OpenSubKey(software64, "WOW6432Node\\Zelvo", Access::Read, sub),
              platform::kErrorSuccess);
}

// --- names and paths ------------------------------------------------------------

using RegistryNameTest = RegistryTest;

TEST_F(RegistryNameTest, KeyNamesIgnoreCaseAndKeepTheirFirstSpelling) {
    bool created = false;
    reg::Key first;
    ASSERT_EQ(reg::CreateKey(Root::CurrentUser, "Zelvo\\Äpfel", View::Default, first, &created),
              platform::kErrorSuccess);
    EXPECT_TRUE(created);
    reg::Key again;
    ASSERT_EQ(reg::CreateKey(Root::CurrentUser, "ZELVO\\äPFEL", View::Default, again, &created),
              platform::kErrorSuccess);
    EXPECT_FALSE(created);
    EXPECT_EQ(again.Path(), "ZELVO\\äPFEL");  // as this caller spelled it

    reg::Key parent;
    ASSERT_EQ(Open(Root::CurrentUser, "zelvo", View::Default, parent), platform::kErrorSuccess);
    EXPECT_EQ(SubKeys(parent), std::vector<std::string>{"Äpfel"});
}

TEST_F(RegistryNameTest, ValueNamesIgnoreCaseIncludingNonAscii) {
    reg::Key key = Create(Root::CurrentUser, "Zelvo");
    SetText(key, "Ä-Name", "first");
    SetText(key, "ä-NAME", "second");
    EXPECT_EQ(GetText(key, "ä-name"), "second");
    EXPECT_EQ(ValueNames(key), std::vector<std::string>{"Ä-Name"});
    EXPECT_EQ(reg::DeleteValue(key, "Ä-NAME"), platform::kErrorSuccess);
    EXPECT_TRUE(ValueNames(key).empty());
}

TEST_F(RegistryNameTest, DefaultValueIsTheEmptyName) {
    reg::Key key = Create(Root::CurrentUser, "Zelvo");
    SetText(key, "", "default");
    SetText(key, "x", "named");
    EXPECT_EQ(GetText(key, ""), "default");
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"", "x"}));
}

TEST_F(RegistryNameTest, MalformedPathsAreRefused) {
    reg::Key key;
    EXPECT_EQ(Open(Root::CurrentUser, "\\Software", View::Default, key), platform::kErrorBadKey);
    EXPECT_EQ(reg::CreateKey(Root::CurrentUser, "a\\\\b", View::Default, key),
              platform::kErrorBadKey);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(reg::CreateKey(Root::CurrentUser, std::string(256, 'k'), View::Default, key),
              platform::kErrorInvalidParameter);
    EXPECT_EQ(reg::CreateKey(Root::CurrentUser, std::string(255, 'k'), View::Default, key),
              platform::kErrorSuccess);
    // Nothing of the refused paths was created.
    reg::Key root;
    ASSERT_EQ(Open(Root::CurrentUser, "", View::Default, root), platform::kErrorSuccess);
    EXPECT_EQ(SubKeys(root), std::vector<std::string>{std::string(255, 'k')});
}

TEST_F(RegistryNameTest, TrailingBackslashAndNullEndTheName) {
    EXPECT_EQ(Create(Root::CurrentUser, "Zelvo\\App\\").Path(), "Zelvo\\App");
    using namespace std::string_literals;
    EXPECT_EQ(Create(Root::CurrentUser, "Zelvo\\Cut\0hidden"s).Path(), "Zelvo\\Cut");
    reg::Key key;
    EXPECT_EQ(Open(Root::CurrentUser, "Zelvo\\App\\", View::Default, key), platform::kErrorSuccess);
}

TEST_F(RegistryNameTest, InvalidUtf8NamesAreStoredAsValidText) {
    reg::Key key = Create(Root::CurrentUser, "Zelvo\\bad\xFFname");
    EXPECT_EQ(key.Path(), "Zelvo\\bad\xEF\xBF\xBDname");
    reg::Key parent;
    ASSERT_EQ(Open(Root::CurrentUser, "Zelvo", View::Default, parent), platform::kErrorSuccess);
    EXPECT_EQ(SubKeys(parent), std::vector<std::string>{"bad\xEF\xBF\xBDname"});
}

// --- enumeration ---------------------------------------------------------------

using RegistryEnumTest = RegistryTest;

TEST_F(RegistryEnumTest, SubKeysComeInUpperCasedNameOrder) {
    reg::Key parent = Create(Root::LocalMachine, "Order", View::Wow64_64);
    // Upper-casing puts letters before '_' (0x5F); lower-casing would not.
    for (const char* name : {"_under", "b", "Äpfel", "C", "a", "B2", "Zebra"}) {
        Create(Root::LocalMachine, std::string("Order\\") + name, View::Wow64_64);
    }
    EXPECT_EQ(SubKeys(parent),
              (std::vector<std::string>{"a", "b", "B2", "C", "Zebra", "_under", "Äpfel"}));
}

TEST_F(RegistryEnumTest, ValuesComeInCreationOrderAndOverwriteKeepsThePlace) {
    reg::Key key = Create(Root::CurrentUser, "Zelvo");
    for (const char* name : {"zeta", "Alpha", "mid"}) {
        SetText(key, name, "1");
    }
    SetText(key, "ALPHA", "2");
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"zeta", "Alpha", "mid"}));
    ASSERT_EQ(reg::DeleteValue(key, "zeta"), platform::kErrorSuccess);
    SetText(key, "zeta", "3");
    EXPECT_EQ(ValueNames(key), (std::vector<std::string>{"Alpha", "mid", "zeta"}));

    std::string name;
    std::uint32_t type = 0;
    Bytes data;
    ASSERT_EQ(reg::EnumValue(key, 0, name, &type, &data), platform::kErrorSuccess);
    EXPECT_EQ(type, reg::kRegSz);
    EXPECT_EQ(reg::DataText(data), "2");
    EXPECT_EQ(reg::EnumValue(key, 3, name, &type, &data), platform::kErrorNoMoreItems);
    EXPECT_EQ(reg::EnumKey(key, 0, name), platform::kErrorNoMoreItems);
}

// --- value types -----------------------------------------------------------------

using RegistryValueTest = RegistryTest;

TEST_F(RegistryValueTest, EveryTypeRoundTripsItsExactBytes) {
    reg::Key key = Create(Root::CurrentUser, "Types");
    Bytes large(1 << 20);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<std::uint8_t>(i * 7);
    }
    const std::vector<std::pair<std::uint32_t, Bytes>> cases = {
        {reg::kRegSz, reg::TextData("Grüße 😀")},
        {reg::kRegExpandSz, reg::TextData("%TEMP%\\x")},
        {reg::kRegDword, {0xFF, 0xFF, 0xFF, 0xFF}},
        {reg::kRegQword, {1, 2, 3, 4, 5, 6, 7, 8}},
        {reg::kRegBinary, {0, 0, 1, 0}},
        {reg::kRegBinary, {}},
        {reg::kRegMultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {reg::kRegNone, {}},
        {reg::kRegBinary, large},
        {0x1234, {9}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string name = "v" + std::to_string(i);
        ASSERT_EQ(reg::SetValue(key, name, cases[i].first, cases[i].second),
                  platform::kErrorSuccess);
        std::uint32_t type = 99;
        Bytes data{42};
        ASSERT_EQ(reg::QueryValue(key, name, type, data), platform::kErrorSuccess);
        EXPECT_EQ(type, cases[i].first) << name;
        EXPECT_EQ(data, cases[i].second) << name;
    }
}

TEST_F(RegistryValueTest, OverwriteReplacesTypeAndData) {
    reg::Key key = Create(Root::CurrentUser, "Types");
    SetText(key, "v", "a long text");
    ASSERT_EQ(reg::SetValue(key, "v", reg::kRegDword, Bytes{1, 0, 0, 0}), platform::kErrorSuccess);
    std::uint32_t type = 0;
    Bytes data;
    ASSERT_EQ(reg::QueryValue(key, "v", type, data), platform::kErrorSuccess);
    EXPECT_EQ(type, reg::kRegDword);
    EXPECT_EQ(data, (Bytes{1, 0, 0, 0}));
}

TEST_F(RegistryValueTest, MissingValuesAreNotFound) {
    reg::Key key = Create(Root::CurrentUser, "Types");
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(reg::QueryValue(key, "none", type, data), platform::kErrorFileNotFound);
    EXPECT_EQ(reg::DeleteValue(key, "none"), platform::kErrorFileNotFound);
}

TEST(RegistryTextTest, TextDataIsUtf16LeWithTerminator) {
    EXPECT_EQ(reg::TextData("Aß"), (Bytes{'A', 0, 0xDF, 0, 0, 0}));
    EXPECT_EQ(reg::TextData("😀"), (Bytes{0x3D, 0xD8, 0x00, 0xDE, 0, 0}));
    EXPECT_EQ(reg::TextData(""), (Bytes{0, 0}));
    EXPECT_EQ(reg::DataText(reg::TextData("Grüße 😀")), "Grüße 😀");
    // Up to the first null; an odd last byte is no character.
    EXPECT_EQ(reg::DataText(Bytes{'a', 0, 0, 0, 'b', 0}), "a");
    EXPECT_EQ(reg::DataText(Bytes{'a', 0, 'b'}), "a");
    EXPECT_EQ(reg::DataText(Bytes{'a', 0, 'b', 0}), "ab");
}

// --- deletion and handles ------------------------------------------------------------

using RegistryDeleteTest = RegistryTest;

TEST_F(RegistryDeleteTest, DeleteKeyRefusesKeysWithSubKeys) {
    SetText(Create(Root::CurrentUser, "A\\B"), "v", "x");
    EXPECT_EQ(reg::DeleteKey(Root::CurrentUser, "A", View::Default), platform::kErrorAccessDenied);
    reg::Key key;
    EXPECT_EQ(Open(Root::CurrentUser, "A\\B", View::Default, key), platform::kErrorSuccess);

    EXPECT_EQ(reg::DeleteKey(Root::CurrentUser, "a\\b", View::Default), platform::kErrorSuccess);
    EXPECT_EQ(Open(Root::CurrentUser, "A\\B", View::Default, key), platform::kErrorFileNotFound);
    // Recreated, the key has none of the old values.
    EXPECT_EQ(GetText(Create(Root::CurrentUser, "A\\B"), "v"), std::nullopt);
    EXPECT_EQ(reg::DeleteKey(Root::CurrentUser, "A\\Missing", View::Default),
              platform::kErrorFileNotFound);
}

TEST_F(RegistryDeleteTest, DeleteTreeRemovesEverythingBelowAndNothingBeside) {
    SetText(Create(Root::CurrentUser, "A\\B\\C\\D"), "v", "x");
    SetText(Create(Root::CurrentUser, "A\\B\\E"), "v", "x");
    SetText(Create(Root::CurrentUser, "A\\BC"), "keep", "yes");
    ASSERT_EQ(reg::DeleteTree(Root::CurrentUser, "A\\B", View::Default), platform::kErrorSuccess);
    reg::Key key;
    EXPECT_EQ(Open(Root::CurrentUser, "A\\B", View::Default, key), platform::kErrorFileNotFound);
    ASSERT_EQ(Open(Root::CurrentUser, "A", View::Default, key), platform::kErrorSuccess);
    EXPECT_EQ(SubKeys(key), std::vector<std::string>{"BC"});
    ASSERT_EQ(Open(Root::CurrentUser, "A\\BC", View::Default, key), platform::kErrorSuccess);
    EXPECT_EQ(GetText(key, "keep"), "yes");
    EXPECT_EQ(reg::DeleteTree(Root::CurrentUser, "A\\B", View::Default),
              platform::kErrorFileNotFound);
}

TEST_F(RegistryDeleteTest, RootsCannotBeDeleted) {
    Create(Root::CurrentUser, "A");
    EXPECT_EQ(reg::DeleteKey(Root::CurrentUser, "", View::Default), platform::kErrorAccessDenied);
    EXPECT_EQ(reg::DeleteTree(Root::LocalMachine, "", View::Wow64_64),
              platform::kErrorAccessDenied);
    reg::Key key;
    EXPECT_EQ(Open(Root::CurrentUser, "A", View::Default, key), platform::kErrorSuccess);
}

TEST_F(RegistryDeleteTest, DeletingInTheThirtyTwoBitViewLeavesTheSixtyFourBitKey) {
    Create(Root::LocalMachine, "SOFTWARE\\Zelvo", View::Wow64_64);
    Create(Root::LocalMachine, "SOFTWARE\\Zelvo", View::Wow64_32);
    ASSERT_EQ(reg::DeleteTree(Root::LocalMachine, "SOFTWARE\\Zelvo", View::Default),
              platform::kErrorSuccess);
    reg::Key key;
    EXPECT_EQ(Open(Root::LocalMachine, "SOFTWARE\\Zelvo", View::Wow64_64, key),
              platform::kErrorSuccess);
    EXPECT_EQ(Open(Root::LocalMachine, "SOFTWARE\\Zelvo", View::Wow64_32, key),
              platform::kErrorFileNotFound);
}

using RegistryHandleTest = RegistryTest;

TEST_F(RegistryHandleTest, HandleOfADeletedKeyReportsKeyDeleted) {
    reg::Key old = Create(Root::CurrentUser, "Zelvo\\App");
    SetText(old, "v", "x");
    ASSERT_EQ(reg::DeleteTree(Root::CurrentUser, "Zelvo", View::Default), platform::kErrorSuccess);
    Create(Root::CurrentUser, "Zelvo\\App");  // same path, new key

    std::uint32_t type = 0;
    Bytes data;
    std::string name;
    reg::Key sub;
    EXPECT_EQ(reg::QueryValue(old, "v", type, data), platform::kErrorKeyDeleted);
    EXPECT_EQ(reg::SetValue(old, "v", reg::kRegSz, reg::TextData("y")), platform::kErrorKeyDeleted);
    EXPECT_EQ(reg::DeleteValue(old, "v"), platform::kErrorKeyDeleted);
    EXPECT_EQ(reg::EnumKey(old, 0, name), platform::kErrorKeyDeleted);
    EXPECT_EQ(reg::EnumValue(old, 0, name), platform::kErrorKeyDeleted);
    EXPECT_EQ(reg::OpenSubKey(old, "", Access::Read, sub), platform::kErrorKeyDeleted);
    EXPECT_EQ(old.Path(), "Zelvo\\App");

    reg::Key fresh;
    ASSERT_EQ(Open(Root::CurrentUser, "Zelvo\\App", View::Default, fresh), platform::kErrorSuccess);
    EXPECT_EQ(GetText(fresh, "v"), std::nullopt);
}

TEST_F(RegistryHandleTest, ReadHandlesRefuseWrites) {
    SetText(Create(Root::CurrentUser, "Zelvo"), "v", "kept");
    reg::Key reader;
    ASSERT_EQ(Open(Root::CurrentUser, "Zelvo", View::Default, reader), platform::kErrorSuccess);
    EXPECT_EQ(reg::SetValue(reader, "v", reg::kRegSz, reg::TextData("new")),
              platform::kErrorAccessDenied);
    EXPECT_EQ(reg::DeleteValue(reader, "v"), platform::kErrorAccessDenied);
    EXPECT_EQ(GetText(reader, "v"), "kept");

    reg::Key writer;
    ASSERT_EQ(reg::OpenSubKey(reader, "", Access::All, writer), platform::kErrorSuccess);
    SetText(writer, "v", "new");
    EXPECT_EQ(GetText(reader, "v"), "new");
}

TEST_F(RegistryHandleTest, ClosedHandlesAndDynDataAreInvalid) {
    reg::Key closed;
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(reg::QueryValue(closed, "v", type, data), platform::kErrorInvalidHandle);
    reg::Key moved = Create(Root::CurrentUser, "Zelvo");
    reg::Key target = std::move(moved);
    EXPECT_TRUE(target.IsOpen());
    target.Close();
    EXPECT_EQ(reg::SetValue(target, "v", reg::kRegNone, {}), platform::kErrorInvalidHandle);
    EXPECT_EQ(target.Path(), "");

    reg::Key key;
    EXPECT_EQ(Open(Root::DynData, "", View::Default, key), platform::kErrorInvalidHandle);
    EXPECT_EQ(reg::CreateKey(Root::DynData, "X", View::Default, key),
              platform::kErrorInvalidHandle);
    EXPECT_EQ(reg::DeleteTree(Root::DynData, "X", View::Default), platform::kErrorInvalidHandle);
}

// --- storage -------------------------------------------------------------------

using RegistryStorageTest = RegistryTest;

TEST_F(RegistryStorageTest, HivesAreSeparateFilesInTheFolderOfTheMoment) {
    SetText(Create(Root::CurrentUser, "Zelvo"), "v", "user");
    SetText(Create(Root::ClassesRoot, "Zelvo"), "v", "classes");
    SetText(Create(Root::LocalMachine, "Zelvo"), "v", "machine");
    EXPECT_TRUE(std::filesystem::exists(folder_ / "user.db"));
    EXPECT_TRUE(std::filesystem::exists(folder_ / "machine.db"));
    reg::Key key;
    ASSERT_EQ(Open(Root::ClassesRoot, "Zelvo", View::Default, key), platform::kErrorSuccess);
    EXPECT_EQ(GetText(key, "v"), "classes");
    {
        stubtest::TestFolder other;
        stubtest::ScopedEnv moved("STUB_REGISTRY_DIR", other.Path());
        EXPECT_EQ(Open(Root::CurrentUser, "Zelvo", View::Default, key),
                  platform::kErrorFileNotFound);
    }
    ASSERT_EQ(Open(Root::CurrentUser, "Zelvo", View::Default, key), platform::kErrorSuccess);
    EXPECT_EQ(GetText(key, "v"), "user");
}

TEST_F(RegistryStorageTest, CorruptFileIsAnErrorAndLeavesTheOtherHiveWorking) {
    stubtest::WriteFile(folder_ / "machine.db", std::string(8192, 'x'));
    reg::Key key;
    EXPECT_EQ(Open(Root::LocalMachine, "SOFTWARE", View::Default, key), platform::kErrorCantRead);
    EXPECT_EQ(reg::CreateKey(Root::LocalMachine, "SOFTWARE", View::Default, key),
              platform::kErrorCantRead);
    EXPECT_EQ(reg::DeleteTree(Root::Users, "X", View::Default), platform::kErrorCantRead);
    EXPECT_FALSE(key.IsOpen());
    SetText(Create(Root::CurrentUser, "Zelvo"), "v", "fine");
    EXPECT_EQ(stubtest::ReadFile(folder_ / "machine.db"), std::string(8192, 'x'));
}

TEST_F(RegistryStorageTest, ReplacedFileIsReopenedNotWrittenIntoTheOldOne) {
    SetText(Create(Root::CurrentUser, "Zelvo"), "v", "old");
    for (const char* name : {"user.db", "user.db-wal", "user.db-shm"}) {
        std::filesystem::remove(folder_ / name);
    }
    reg::Key key;
    EXPECT_EQ(Open(Root::CurrentUser, "Zelvo", View::Default, key), platform::kErrorFileNotFound);
    SetText(Create(Root::CurrentUser, "Zelvo"), "v", "new");
    EXPECT_TRUE(std::filesystem::exists(folder_ / "user.db"));
}

TEST_F(RegistryStorageTest, ThreadsWritingAtOnceLoseNothing) {
    Create(Root::CurrentUser, "Threads");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            reg::Key key;
            ASSERT_EQ(reg::CreateKey(Root::CurrentUser, "Threads", View::Default, key),
                      platform::kErrorSuccess);
            for (int i = 0; i < 50; ++i) {
                const std::string name = std::to_string(t) + "_" + std::to_string(i);
                ASSERT_EQ(reg::SetValue(key, name, reg::kRegSz, reg::TextData(name)),
                          platform::kErrorSuccess);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    reg::Key key;
    ASSERT_EQ(Open(Root::CurrentUser, "Threads", View::Default, key), platform::kErrorSuccess);
    EXPECT_EQ(ValueNames(key).size(), 200u);
}

TEST_F(RegistryStorageTest, ProcessesWritingAtOnceLoseNothing) {
    // The children open the file first: this process has not touched it yet.
    std::vector<pid_t> children;
    for (int p = 0; p < 4; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < 50; ++i) {
                reg::Key key;
                const std::string name = std::to_string(p) + "_" + std::to_string(i);
                failures += reg::CreateKey(Root::LocalMachine, "SOFTWARE\\Procs", View::Default,
                                           key) != platform::kErrorSuccess;
                failures += reg::SetValue(key, name, reg::kRegSz, reg::TextData(name)) !=
                            platform::kErrorSuccess;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    ExpectChildrenSucceed(children);
    reg::Key key;
    ASSERT_EQ(Open(Root::LocalMachine, "SOFTWARE\\Procs", View::Default, key),
              platform::kErrorSuccess);
    const std::vector<std::string> names = ValueNames(key);
    EXPECT_EQ(names.size(), 200u);
    for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(GetText(key, std::to_string(p) + "_49"), std::to_string(p) + "_49");
    }
}

TEST_F(RegistryStorageTest, NewFileOpenedByManyProcessesAtOnce) {
    // The switch of a new file to WAL races between the first openers.
    for (int round = 0; round < 25; ++round) {
        const std::string folder = folder_ / std::to_string(round);
        std::vector<pid_t> children;
        for (int p = 0; p < 4; ++p) {
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                setenv("STUB_REGISTRY_DIR", folder.c_str(), 1);
                reg::Key key;
                const bool ok = reg::CreateKey(Root::CurrentUser, "K", View::Default, key) ==
                                    platform::kErrorSuccess &&
                                reg::SetValue(key, std::to_string(p), reg::kRegNone, {}) ==
                                    platform::kErrorSuccess;
                _exit(ok ? 0 : 1);
            }
            children.push_back(pid);
        }
        ExpectChildrenSucceed(children);
        stubtest::ScopedEnv here("STUB_REGISTRY_DIR", folder);
        reg::Key key;
        ASSERT_EQ(Open(Root::CurrentUser, "K", View::Default, key), platform::kErrorSuccess);
        EXPECT_EQ(ValueNames(key).size(), 4u) << round;
    }
}

TEST_F(RegistryStorageTest, ForkedChildDoesNotUseItsParentsConnection) {
    reg::Key key = Create(Root::CurrentUser, "Zelvo");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::uint32_t type = 0;
        Bytes data;
        reg::Key again;
        const bool refused =
            reg::QueryValue(key, "v", type, data) == platform::kErrorInvalidHandle &&
            reg::OpenKey(Root::CurrentUser, "Zelvo", View::Default, Access::Read, again) ==
                platform::kErrorInvalidHandle;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    SetText(key, "v", "still usable here");
}

// --- the stub-reg tool ------------------------------------------------------------

class StubRegToolTest : public RegistryTest {
protected:
    struct Result {
        int exitCode = -1;
        std::string out;
        std::string err;
    };

    static std::string Quote(const std::string& text) {
        std::string quoted = "'";
        for (const char c : text) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        return quoted + "'";
    }

    Result Run(const std::vector<std::string>& args, const std::string& input = "") {
        std::string command = "printf %s " + Quote(input) + " | " STUB_BIN_DIR "/stub-reg";
        for (const std::string& arg : args) {
            command += " " + Quote(arg);
        }
        command += " 2>" + Quote(folder_ / "stderr.txt");
        Result result;
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            return result;
        }
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            result.out.append(buffer, n);
        }
        const int status = pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.err = stubtest::ReadFile(folder_ / "stderr.txt");
        return result;
    }

    static std::string Utf16FileText(const std::string& bytes) {
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
        std::u16string units;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            units += static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                           (static_cast<std::uint8_t>(bytes[i + 1]) << 8));
        }
        return platform::Utf16ToUtf8(units);
    }
};

TEST_F(StubRegToolTest, AddThenQueryPrintsLikeTheWindowsTool) {
    EXPECT_EQ(Run({"add", "HKLM\\SOFTWARE\\Zelvo", "/v", "Name", "/d", "Grüße"}).exitCode, 0);
    EXPECT_EQ(
        Run({"add", "HKLM\\SOFTWARE\\Zelvo", "/v", "Count", "/t", "REG_DWORD", "/d", "4294967295"})
            .exitCode,
        0);
    EXPECT_EQ(Run({"add", "HKLM\\SOFTWARE\\Zelvo\\Sub", "/ve", "/d", "x"}).exitCode, 0);

    const Result query = Run({"query", "hklm\\software\\zelvo"});
    EXPECT_EQ(query.exitCode, 0);
    EXPECT_EQ(query.out,
              "\nHKEY_LOCAL_MACHINE\\software\\WOW6432Node\\zelvo\n"
              "    Name    REG_SZ    Grüße\n"
              "    Count    REG_DWORD    0xffffffff\n\n"
              "HKEY_LOCAL_MACHINE\\software\\WOW6432Node\\zelvo\\Sub\n");

    const Result one = Run({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Zelvo\\Sub", "/ve"});
    EXPECT_EQ(one.out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432Node\\Zelvo\\Sub\n"
              "    (Default)    REG_SZ    x\n\n");

    // What the tool wrote is what the API reads.
    reg::Key key;
    ASSERT_EQ(Open(Root::LocalMachine, "SOFTWARE\\WOW6432Node\\Zelvo", View::Wow64_64, key),
              platform::kErrorSuccess);
    EXPECT_EQ(GetText(key, "name"), "Grüße");
    EXPECT_EQ(Run({"query", "HKLM\\SOFTWARE\\Zelvo", "/reg:64"}).exitCode, 1);
}

TEST_F(StubRegToolTest, FailuresExitWithOneAndAnError) {
    Result missing = Run({"query", "HKCU\\Nothing"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err,
              "ERROR: The system was unable to find the specified registry key or value.\n");
    EXPECT_EQ(Run({"query", "HKXX\\Software"}).exitCode, 1);
    EXPECT_EQ(Run({"frobnicate"}).exitCode, 1);
    EXPECT_EQ(Run({}).exitCode, 1);
    EXPECT_EQ(Run({"/?"}).exitCode, 0);

    // Bad data writes nothing, not even the key.
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"add", "HKCU\\Bad", "/v", "d", "/t", "REG_DWORD", "/d",
                                   "4294967296"},
          std::vector<std::string>{"add", "HKCU\\Bad", "/v", "b", "/t", "REG_BINARY", "/d", "abc"},
          std::vector<std::string>{"add", "HKCU\\Bad", "/v", "m", "/t", "REG_MULTI_SZ", "/d",
                                   "a\\0\\0b"},
          std::vector<std::string>{"add", "HKCU\\Bad", "/v", "t", "/t", "REG_TEXT"}}) {
        const Result result = Run(bad);
        EXPECT_EQ(result.exitCode, 1) << bad[5];
        EXPECT_EQ(result.err.rfind("ERROR: ", 0), 0u) << result.err;
    }
    reg::Key key;
    EXPECT_EQ(Open(Root::CurrentUser, "Bad", View::Default, key), platform::kErrorFileNotFound);
}

TEST_F(StubRegToolTest, OverwriteAndDeleteAskUnlessForced) {
    ASSERT_EQ(Run({"add", "HKCU\\Zelvo", "/v", "v", "/d", "one"}).exitCode, 0);
    const Result refused = Run({"add", "HKCU\\Zelvo", "/v", "V", "/d", "two"}, "n\n");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.out.find("Value V exists, overwrite(Yes/No)?"), std::string::npos);
    EXPECT_EQ(Run({"add", "HKCU\\Zelvo", "/v", "v", "/d", "three"}, "yes\n").exitCode, 0);
    reg::Key key;
    ASSERT_EQ(Open(Root::CurrentUser, "Zelvo", View::Default, key), platform::kErrorSuccess);
    EXPECT_EQ(GetText(key, "v"), "three");

    EXPECT_EQ(Run({"delete", "HKCU\\Zelvo"}).exitCode, 1);  // no answer is No
    EXPECT_EQ(Run({"delete", "HKCU\\Zelvo", "/v", "v", "/f"}).exitCode, 0);
    EXPECT_EQ(GetText(key, "v"), std::nullopt);
    ASSERT_EQ(Run({"add", "HKCU\\Zelvo\\Sub\\Deeper", "/f"}).exitCode, 0);
    EXPECT_EQ(Run({"delete", "HKCU\\Zelvo", "/f"}).exitCode, 0);
    EXPECT_EQ(Open(Root::CurrentUser, "Zelvo", View::Default, key), platform::kErrorFileNotFound);
    EXPECT_EQ(Run({"delete", "HKCU", "/f"}).exitCode, 1);
}

TEST_F(StubRegToolTest, DeleteAllValuesKeepsSubKeys) {
    reg::Key key = Create(Root::CurrentUser, "Zelvo");
    SetText(key, "a", "1");
    SetText(key, "b", "2");
    Create(Root::CurrentUser, "Zelvo\\Sub");
    EXPECT_EQ(Run({"delete", "HKCU\\Zelvo", "/va", "/f"}).exitCode, 0);
    EXPECT_TRUE(ValueNames(key).empty());
    EXPECT_EQ(SubKeys(key), std::vector<std::string>{"Sub"});
}

TEST_F(StubRegToolTest, ExportWritesARegFile) {
    reg::Key key = Create(Root::CurrentUser, "Software\\Zelvo");
    SetText(key, "", "quote\" and \\ back");
    SetText(key, "multi", "a\r\nb");  // cannot sit between quotes
    ASSERT_EQ(reg::SetValue(key, "dw", reg::kRegDword, Bytes{0x0A, 0, 0, 0}),
              platform::kErrorSuccess);
    ASSERT_EQ(reg::SetValue(key, "q", reg::kRegQword, Bytes{1, 0, 0, 0, 0, 0, 0, 0}),
              platform::kErrorSuccess);
    ASSERT_EQ(reg::SetValue(key, "m", reg::kRegMultiSz, Bytes{'a', 0, 0, 0}),
              platform::kErrorSuccess);
    ASSERT_EQ(reg::SetValue(key, "e", reg::kRegExpandSz, reg::TextData("%A%")),
              platform::kErrorSuccess);
    ASSERT_EQ(reg::SetValue(key, "bin", reg::kRegBinary, Bytes(30, 0xAB)), platform::kErrorSuccess);
    Create(Root::CurrentUser, "Software\\Zelvo\\Child");

    const std::string file = folder_ / "out.reg";
    ASSERT_EQ(Run({"export", "HKCU\\Software\\Zelvo", file}).exitCode, 0);
    const std::string expected =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Zelvo]\r\n"
        "@=\"quote\\\" and \\\\ back\"\r\n"
        "\"multi\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\r\n"
        "\"dw\"=dword:0000000a\r\n"
        "\"q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
        "\"m\"=hex(7):61,00,00,00\r\n"
        "\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n"
        "\"bin\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
        "  ab,ab,ab,ab,ab,ab,ab\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Zelvo\\Child]\r\n"
        "\r\n";
    EXPECT_EQ(Utf16FileText(stubtest::ReadFile(file)), expected);

    // An existing file is kept unless the overwrite is confirmed.
    stubtest::WriteFile(file, "precious");
    EXPECT_EQ(Run({"export", "HKCU\\Software\\Zelvo", file}, "n\n").exitCode, 1);
    EXPECT_EQ(stubtest::ReadFile(file), "precious");
    EXPECT_EQ(Run({"export", "HKCU\\Software\\Zelvo", file, "/y"}).exitCode, 0);
    EXPECT_EQ(Utf16FileText(stubtest::ReadFile(file)), expected);
}

TEST_F(StubRegToolTest, ConcurrentToolProcessesLoseNoValue) {
    std::string script;
    // Four writers at once, 25 values each (slow builds start each tool slowly).
    for (int p = 0; p < 4; ++p) {
        script += "(for i in $(seq 1 25); do " STUB_BIN_DIR "/stub-reg add 'HKCU\\Conc' /v p" +
                  std::to_string(p) + "_$i /d x /f >/dev/null || echo fail; done) & ";
    }
    script += "wait";
    FILE* pipe = popen(("sh -c " + Quote(script)).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[256];
    std::string out;
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        out.append(buffer, n);
    }
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(out, "");
    reg::Key key;
    ASSERT_EQ(Open(Root::CurrentUser, "Conc", View::Default, key), platform::kErrorSuccess);
    EXPECT_EQ(ValueNames(key).size(), 100u);
}

}  // namespace
