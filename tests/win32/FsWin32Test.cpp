// The file layer over Win32: what it makes is private (an explicit DACL),
// writers share with readers only, replacing and renaming keep the rules
// callers rely on, and no write goes through a reparse point.
#include "platform/win32/Win32.h"
// After windows.h:
#include <aclapi.h>
#undef CopyFile
#undef DeleteFile

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/unicode.h"
#include "support/PeBuilder.h"

namespace {

namespace fs = stubframework::platform::fs;
using namespace stubframework::platform;

std::wstring Wide(const std::string& path) {
    const std::u16string units = Utf8ToUtf16(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(units.data()), units.size());
}

std::string Narrow(const std::wstring& wide) {
    return Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// Removes a tree without descending links; long names included.
void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring child = path + L"\\" + name;
            const DWORD attributes = data.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            } else if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                RemoveDirectoryW(child.c_str());
            } else {
                RemoveTree(child);
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

// A fresh folder under `parent`, removed with its contents at the end.
class Scratch {
public:
    explicit Scratch(const std::wstring& parent) {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::wstring folder = parent + L"fswin32-" + std::to_wstring(random());
            if (CreateDirectoryW(folder.c_str(), nullptr)) {
                path_ = Narrow(folder);
            }
        }
    }
    ~Scratch() {
        if (!path_.empty()) {
            RemoveTree(L"\\\\?\\" + Wide(path_));
        }
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, buffer);
    return buffer;
}

void WriteFile(const std::string& path, const std::string& content) {
    const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadFile(const std::string& path) {
    fs::FileHandle file;
    if (file.Open(path) != kErrorSuccess) {
        return "(unreadable)";
    }
    std::string content(static_cast<std::size_t>(std::max<std::int64_t>(file.Size(), 0)), '\0');
    content.resize(static_cast<std::size_t>(
        std::max<std::int64_t>(file.Read(content.data(), content.size()), 0)));
    return content;
}

using Sid = std::vector<BYTE>;

Sid CopySid(PSID sid) {
    const auto* bytes = static_cast<const BYTE*>(sid);
    return Sid(bytes, bytes + GetLengthSid(sid));
}

Sid UserSid() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    alignas(8) BYTE info[512] = {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, info, sizeof info, &size);
    CloseHandle(token);
    return CopySid(reinterpret_cast<TOKEN_USER*>(info)->User.Sid);
}

Sid WellKnown(WELL_KNOWN_SID_TYPE type) {
    alignas(8) BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof sid;
    CreateWellKnownSid(type, nullptr, sid, &size);
    return CopySid(sid);
}

// What the DACL of `path` allows each trustee.
std::map<Sid, ACCESS_MASK> Grants(const std::string& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::map<Sid, ACCESS_MASK> grants;
    GetNamedSecurityInfoW(Wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, &dacl, nullptr, &descriptor);
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
            ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE) {
            grants[CopySid(&ace->SidStart)] |= ace->Mask;
        }
    }
    LocalFree(descriptor);
    return grants;
}

// Only its user, the system and the administrators get in.
::testing::AssertionResult OwnerOnly(const std::string& path) {
    std::map<Sid, ACCESS_MASK> grants = Grants(path);
    const ACCESS_MASK user = grants[UserSid()];
    for (const Sid& trusted :
         {UserSid(), WellKnown(WinLocalSystemSid), WellKnown(WinBuiltinAdministratorsSid)}) {
        grants.erase(trusted);
    }
    constexpr ACCESS_MASK kReadWrite = FILE_READ_DATA | FILE_WRITE_DATA;
    if ((user & kReadWrite) != kReadWrite || !grants.empty()) {
        return ::testing::AssertionFailure() << path << ": its user has 0x" << std::hex << user
                                             << ", " << grants.size() << " others have some";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult EveryoneReadsOnly(const std::string& path) {
    const ACCESS_MASK world = Grants(path)[WellKnown(WinWorldSid)];
    if ((world & FILE_READ_DATA) == 0 || (world & (FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0) {
        return ::testing::AssertionFailure() << path << ": everyone has 0x" << std::hex << world;
    }
    return ::testing::AssertionSuccess();
}

class FsWin32Test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(work.Path().empty()); }

    Scratch work{TempFolder()};
};

TEST_F(FsWin32Test, WhatIsMadeIsPrivateUnlessEveryoneMayRead) {
    ASSERT_EQ(fs::CreateFolder(work / "one"), kErrorSuccess);
    EXPECT_TRUE(OwnerOnly(work / "one"));
    EXPECT_EQ(fs::CreateFolder(work / "one"), kErrorAlreadyExists);
    ASSERT_EQ(fs::CreateFolderTree(work.Path() + "/a/b\\c\\"), kErrorSuccess);
    EXPECT_TRUE(OwnerOnly(work / "a"));
    EXPECT_TRUE(OwnerOnly(work / "a\\b\\c"));
    std::string random;
    ASSERT_EQ(fs::CreateRandomFolder(work / "r.", random), kErrorSuccess);
    EXPECT_EQ(random.size(), (work / "r.").size() + 6);
    EXPECT_TRUE(OwnerOnly(random));

    fs::FileHandle file;
    ASSERT_EQ(file.CreateAlways(work / "created"), kErrorSuccess);
    file.Close();
    EXPECT_TRUE(OwnerOnly(work / "created"));
    ASSERT_TRUE(fs::OpenForAppend(work / "log.txt"));
    EXPECT_TRUE(OwnerOnly(work / "log.txt"));
    const std::vector<std::uint8_t> data{'i', 'd'};
    ASSERT_EQ(fs::ReplaceFileContent(work / "private", data), kErrorSuccess);
    EXPECT_TRUE(OwnerOnly(work / "private"));

    // A copy is private whatever its source lets others do, and writable.
    ASSERT_EQ(fs::CreateFolderTree(work / "shared\\deeper", fs::Readers::kEveryone), kErrorSuccess);
    EXPECT_TRUE(EveryoneReadsOnly(work / "shared"));
    EXPECT_TRUE(EveryoneReadsOnly(work / "shared\\deeper"));
    ASSERT_EQ(fs::ReplaceFileContent(work / "shared\\data", data, fs::Readers::kEveryone),
              kErrorSuccess);
    EXPECT_TRUE(EveryoneReadsOnly(work / "shared\\data"));
    SetFileAttributesW(Wide(work / "shared\\data").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_EQ(fs::CopyFile(work / "shared\\data", work / "copy", true), kErrorSuccess);
    EXPECT_TRUE(OwnerOnly(work / "copy"));
    EXPECT_EQ(GetFileAttributesW(Wide(work / "copy").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(fs::MarkExecutable(work / "copy"), kErrorSuccess);

    // An existing file keeps the DACL it has.
    SetFileAttributesW(Wide(work / "shared\\data").c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_EQ(file.OpenAlways(work / "shared\\data"), kErrorSuccess);
    EXPECT_TRUE(EveryoneReadsOnly(work / "shared\\data"));

    // The lock file: any user must be able to open it to take the lock.
    fs::FileLock lock;
    ASSERT_EQ(lock.Acquire(work / "data.lock", 0), kErrorSuccess);
    EXPECT_TRUE(EveryoneReadsOnly(work / "data.lock"));
}

TEST_F(FsWin32Test, OnlyOurOwnRealFoldersAreClaimed) {
    // Made by someone with the folder's inherited DACL, taken as ours.
    ASSERT_TRUE(CreateDirectoryW(Wide(work / "ours").c_str(), nullptr));
    EXPECT_EQ(fs::ClaimFolder(work / "ours"), kErrorSuccess);
    EXPECT_TRUE(OwnerOnly(work / "ours"));
    WriteFile(work / "file", "x");
    EXPECT_NE(fs::ClaimFolder(work / "file"), kErrorSuccess);
    EXPECT_NE(fs::ClaimFolder(work / "missing"), kErrorSuccess);
}

TEST_F(FsWin32Test, WritersShareWithReadersButNotWithWriters) {
    fs::FileHandle writer;
    ASSERT_EQ(writer.OpenAlways(work / "data"), kErrorSuccess);
    std::size_t written = 0;
    ASSERT_EQ(writer.Write("abc", 3, written), kErrorSuccess);

    fs::FileHandle reader;
    ASSERT_EQ(reader.Open(work / "data"), kErrorSuccess);
    char bytes[8] = {};
    EXPECT_EQ(reader.Read(bytes, sizeof bytes), 3);
    ASSERT_EQ(writer.Write("def", 3, written), kErrorSuccess);
    EXPECT_EQ(reader.Read(bytes, sizeof bytes), 3) << "the writer's later bytes show";
    EXPECT_EQ(std::string(bytes, 3), "def");

    fs::FileHandle other;
    EXPECT_EQ(other.OpenUnshared(work / "data"), kErrorSharingViolation);
    EXPECT_EQ(other.OpenAlways(work / "data"), kErrorSharingViolation);
    EXPECT_EQ(other.CreateAlways(work / "data"), kErrorSharingViolation);
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(writer.Size(), 6) << "a refused writer empties nothing";
    writer.Close();
    reader.Close();

    // Unshared readers exclude each other.
    ASSERT_EQ(reader.OpenUnshared(work / "data"), kErrorSuccess);
    EXPECT_EQ(other.OpenUnshared(work / "data"), kErrorSharingViolation);
    reader.Close();
    EXPECT_EQ(other.OpenUnshared(work / "data"), kErrorSuccess);
    other.Close();

    // A log being appended is read, copied and appended to by others.
    const fs::File log = fs::OpenForAppend(work / "log.txt");
    ASSERT_TRUE(log);
    std::fputs("first\n", log.get());
    std::fflush(log.get());
    const fs::File second = fs::OpenForAppend(work / "log.txt");
    ASSERT_TRUE(second);
    std::fputs("second\n", second.get());
    std::fflush(second.get());
    std::fputs("third\n", log.get());
    std::fflush(log.get());
    EXPECT_EQ(ReadFile(work / "log.txt"), "first\nsecond\nthird\n");
    ASSERT_EQ(fs::CopyFile(work / "log.txt", work / "log-copy.txt", true), kErrorSuccess);
    EXPECT_EQ(ReadFile(work / "log-copy.txt"), "first\nsecond\nthird\n");
}

TEST_F(FsWin32Test, PositionedReadsLeaveThePositionAlone) {
    fs::FileHandle file;
    ASSERT_EQ(file.OpenAlways(work / "data"), kErrorSuccess);
    std::size_t written = 0;
    ASSERT_EQ(file.Write("0123456789", 10, written), kErrorSuccess);
    ASSERT_EQ(file.Seek(4), kErrorSuccess);
    char bytes[16] = {};
    EXPECT_EQ(file.ReadAt(7, bytes, sizeof bytes), 3) << "short only at the end";
    EXPECT_EQ(std::string(bytes, 3), "789");
    EXPECT_EQ(file.Position(), 4);
    ASSERT_EQ(file.Write("xy", 2, written), kErrorSuccess);
    EXPECT_EQ(file.ReadAt(0, bytes, 10), 10);
    EXPECT_EQ(std::string(bytes, 10), "0123xy6789");
    EXPECT_EQ(file.ReadAt(-1, bytes, 1), -1);
    EXPECT_EQ(file.ReadAt(20, bytes, 1), 0);

    ASSERT_EQ(file.Seek(3), kErrorSuccess);
    ASSERT_EQ(file.SetEnd(), kErrorSuccess);
    EXPECT_EQ(file.Size(), 3);
    EXPECT_EQ(file.Read(bytes, sizeof bytes), 0) << "at the end";
    fs::InjectWriteFailure(kErrorDiskFull);
    EXPECT_EQ(file.Write("z", 1, written), kErrorDiskFull);
    fs::InjectWriteFailure(0);
    EXPECT_EQ(written, 0u);

    file.Close();
    EXPECT_EQ(file.Read(bytes, 1), -1);
    EXPECT_EQ(fs::LastFileError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(file.Size(), -1);
}

TEST_F(FsWin32Test, ReplacedContentIsWholeOrUntouched) {
    const std::vector<std::uint8_t> first{'o', 'l', 'd'};
    const std::vector<std::uint8_t> second{'n', 'e', 'w', '!'};
    ASSERT_EQ(fs::ReplaceFileContent(work.Path() + "/data", first), kErrorSuccess);
    EXPECT_EQ(ReadFile(work / "data"), "old");
    fs::InjectWriteFailure(kErrorDiskFull);
    EXPECT_EQ(fs::ReplaceFileContent(work / "data", second), kErrorDiskFull);
    fs::InjectWriteFailure(0);
    EXPECT_EQ(ReadFile(work / "data"), "old");
    std::vector<fs::FolderEntry> entries;
    ASSERT_EQ(fs::ListFolder(work.Path(), entries), kErrorSuccess);
    EXPECT_EQ(entries.size(), 1u) << "nothing staged is left behind";
    ASSERT_EQ(fs::ReplaceFileContent(work / "data", second), kErrorSuccess);
    EXPECT_EQ(ReadFile(work / "data"), "new!");
}

TEST_F(FsWin32Test, CopiesAndRenamesKeepTheirTargetRules) {
    WriteFile(work / "a", "a");
    WriteFile(work / "b", "b");
    EXPECT_EQ(fs::RenameNoReplace(work / "a", work / "b"), kErrorAlreadyExists);
    EXPECT_EQ(ReadFile(work / "a"), "a");
    EXPECT_EQ(ReadFile(work / "b"), "b");
    EXPECT_EQ(fs::RenameNoReplace(work / "a", work.Path() + "/c"), kErrorSuccess);
    EXPECT_FALSE(fs::Exists(work / "a"));

    EXPECT_EQ(fs::CopyFile(work / "b", work / "c", true), kErrorFileExists);
    EXPECT_EQ(ReadFile(work / "c"), "a");
    EXPECT_NE(fs::CopyFile(work / "missing", work / "c", false), kErrorSuccess);
    EXPECT_EQ(ReadFile(work / "c"), "a") << "a failed copy leaves the target alone";
    ASSERT_TRUE(CreateDirectoryW(Wide(work / "folder").c_str(), nullptr));
    EXPECT_EQ(fs::CopyFile(work / "folder", work / "d", true), kErrorAccessDenied);
    EXPECT_FALSE(fs::Exists(work / "d"));

    WriteFile(work / "longer", "longer content");
    ASSERT_EQ(fs::CopyFile(work / "b", work / "longer", false), kErrorSuccess);
    EXPECT_EQ(ReadFile(work / "longer"), "b") << "nothing of the old content stays";

    // A read-only file is deleted as on POSIX; a folder with something in it is not.
    SetFileAttributesW(Wide(work / "b").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(fs::DeleteFile(work / "b"), kErrorSuccess);
    EXPECT_FALSE(fs::Exists(work / "b"));
    WriteFile(work / "folder\\inside", "x");
    EXPECT_EQ(fs::RemoveFolder(work / "folder"), kErrorDirNotEmpty);
    EXPECT_EQ(fs::DeleteFile(work / "folder\\inside"), kErrorSuccess);
    EXPECT_EQ(fs::RemoveFolder(work / "folder"), kErrorSuccess);
}

// Wine's Z: drive reaches Linux's /dev/shm, another file system than the
// prefix's: the one place a second volume is at hand.
TEST_F(FsWin32Test, RenamesCrossVolumesWithoutReplacing) {
    const DWORD shm = GetFileAttributesW(L"Z:\\dev\\shm");
    if (shm == INVALID_FILE_ATTRIBUTES || (shm & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        GTEST_SKIP() << "no second volume here";
    }
    const Scratch other(L"Z:\\dev\\shm\\");
    ASSERT_FALSE(other.Path().empty());
    WriteFile(work / "c", "c");
    WriteFile(work / "b", "b");
    EXPECT_EQ(fs::RenameNoReplace(work / "c", other / "c"), kErrorSuccess);
    EXPECT_FALSE(fs::Exists(work / "c"));
    EXPECT_EQ(ReadFile(other / "c"), "c");
    EXPECT_TRUE(OwnerOnly(other / "c"));
    EXPECT_NE(fs::RenameNoReplace(work / "b", other / "c"), kErrorSuccess);
    EXPECT_EQ(ReadFile(work / "b"), "b");
    EXPECT_EQ(ReadFile(other / "c"), "c");
    ASSERT_TRUE(CreateDirectoryW(Wide(work / "folder").c_str(), nullptr));
    EXPECT_EQ(fs::RenameNoReplace(work / "folder", other / "folder"), kErrorNotSameDevice);
    EXPECT_TRUE(fs::IsFolder(work / "folder"));
}

// Links made here when the system makes them (Windows asks for a privilege
// or developer mode; Wine 8 claims success and makes nothing).
TEST_F(FsWin32Test, NoWriteGoesThroughALink) {
    WriteFile(work / "victim", "keep me");
    ASSERT_TRUE(CreateDirectoryW(Wide(work / "elsewhere").c_str(), nullptr));
    const DWORD unprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    CreateSymbolicLinkW(Wide(work / "link").c_str(), Wide(work / "victim").c_str(), unprivileged);
    CreateSymbolicLinkW(Wide(work / "dangling").c_str(), Wide(work / "nowhere").c_str(),
                        unprivileged);
    CreateSymbolicLinkW(Wide(work / "linked").c_str(), Wide(work / "elsewhere").c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY | unprivileged);
    if (!fs::Exists(work / "link") || !fs::Exists(work / "linked")) {
        GTEST_SKIP() << "this system made no symbolic links";
    }
    EXPECT_TRUE(fs::IsLink(work / "link"));
    EXPECT_TRUE(fs::IsLink(work / "dangling"));
    EXPECT_TRUE(fs::IsLink(work / "linked"));

    fs::FileHandle file;
    EXPECT_EQ(file.CreateAlways(work / "link"), kErrorStoppedOnSymlink);
    EXPECT_EQ(file.OpenAlways(work / "link"), kErrorStoppedOnSymlink);
    EXPECT_EQ(file.CreateAlways(work / "dangling"), kErrorStoppedOnSymlink);
    EXPECT_FALSE(fs::OpenForAppend(work / "link"));
    WriteFile(work / "source", "other bytes");
    EXPECT_EQ(fs::CopyFile(work / "source", work / "link", false), kErrorStoppedOnSymlink);
    EXPECT_EQ(fs::MarkExecutable(work / "link"), kErrorStoppedOnSymlink);
    EXPECT_EQ(fs::ClaimFolder(work / "linked"), kErrorStoppedOnSymlink);
    EXPECT_EQ(ReadFile(work / "victim"), "keep me");
    EXPECT_FALSE(fs::Exists(work / "nowhere"));

    std::vector<fs::FolderEntry> entries;
    ASSERT_EQ(fs::ListFolder(work.Path(), entries), kErrorSuccess);
    for (const fs::FolderEntry& entry : entries) {
        EXPECT_EQ(entry.isFolder, entry.name == "elsewhere") << entry.name;
    }
    // A link goes, what it names stays.
    EXPECT_EQ(fs::DeleteFile(work / "linked"), kErrorSuccess);
    EXPECT_TRUE(fs::IsFolder(work / "elsewhere"));
    const std::vector<std::uint8_t> data{'n', 'e', 'w'};
    ASSERT_EQ(fs::ReplaceFileContent(work / "link", data), kErrorSuccess);
    EXPECT_FALSE(fs::IsLink(work / "link"));
    EXPECT_EQ(ReadFile(work / "victim"), "keep me");
}

// Wine shows the Unix links of its prefix (the profile's Desktop is one) as
// reparse points whose tag it cannot name: links all the same. Only looked
// at, never written.
TEST(FsWin32LinksTest, ReparsePointsWithoutATagAreLinks) {
    wchar_t profile[MAX_PATH] = {};
    GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
    const std::string home = Narrow(profile);
    const std::string desktop = home + "\\Desktop";
    const DWORD attributes = GetFileAttributesW(Wide(desktop).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        GTEST_SKIP() << "the profile's Desktop is a plain folder here";
    }
    EXPECT_TRUE(fs::IsLink(desktop));
    EXPECT_TRUE(fs::IsFolder(desktop));
    EXPECT_EQ(fs::ClaimFolder(desktop), kErrorStoppedOnSymlink);
    EXPECT_EQ(fs::MarkExecutable(desktop), kErrorStoppedOnSymlink);
    fs::FileHandle file;
    EXPECT_EQ(file.CreateAlways(desktop), kErrorStoppedOnSymlink);
    std::vector<fs::FolderEntry> entries;
    ASSERT_EQ(fs::ListFolder(home, entries), kErrorSuccess);
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [](const fs::FolderEntry& e) { return e.name == "Desktop"; });
    ASSERT_NE(found, entries.end());
    EXPECT_FALSE(found->isFolder) << "removed, never descended";
}

TEST_F(FsWin32Test, FoldersListInByteOrder) {
    ASSERT_EQ(fs::CreateFolder(work / "b-folder"), kErrorSuccess);
    WriteFile(work / "a", "");
    WriteFile(work / "B", "");
    WriteFile(work / "\xc3\xa9t\xc3\xa9", "");  // "été"
    std::vector<fs::FolderEntry> entries;
    ASSERT_EQ(fs::ListFolder(work.Path() + "\\", entries), kErrorSuccess);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "B");
    EXPECT_EQ(entries[1].name, "a");
    EXPECT_EQ(entries[2].name, "b-folder");
    EXPECT_TRUE(entries[2].isFolder);
    EXPECT_FALSE(entries[0].isFolder);
    EXPECT_EQ(entries[3].name, "\xc3\xa9t\xc3\xa9");
    ASSERT_EQ(fs::ListFolder(work / "b-folder", entries), kErrorSuccess);
    EXPECT_TRUE(entries.empty());
    EXPECT_NE(fs::ListFolder(work / "missing", entries), kErrorSuccess);
}

TEST_F(FsWin32Test, PathsPastMaxPathWork) {
    std::string deep = work.Path();
    for (int i = 0; i < 8; ++i) {
        deep += (i % 2 == 0 ? "/" : "\\") + std::string(40, static_cast<char>('a' + i));
    }
    ASSERT_GT(deep.size(), 300u);
    ASSERT_EQ(fs::CreateFolderTree(deep), kErrorSuccess);
    EXPECT_TRUE(fs::IsFolder(deep));
    const std::string file = deep + "\\file.bin";
    fs::FileHandle handle;
    ASSERT_EQ(handle.CreateAlways(file), kErrorSuccess);
    std::size_t written = 0;
    ASSERT_EQ(handle.Write("long", 4, written), kErrorSuccess);
    handle.Close();
    EXPECT_EQ(ReadFile(file), "long");
    EXPECT_TRUE(OwnerOnly(file));
    const std::vector<std::uint8_t> data{'n', 'e', 'w'};
    ASSERT_EQ(fs::ReplaceFileContent(file, data), kErrorSuccess);
    ASSERT_EQ(fs::CopyFile(file, deep + "/copy.bin", true), kErrorSuccess);
    ASSERT_EQ(fs::RenameNoReplace(deep + "\\copy.bin", deep + "\\moved.bin"), kErrorSuccess);
    EXPECT_EQ(ReadFile(deep + "\\moved.bin"), "new");
    std::vector<fs::FolderEntry> entries;
    ASSERT_EQ(fs::ListFolder(deep, entries), kErrorSuccess);
    EXPECT_EQ(entries.size(), 2u);
    const std::optional<std::string> longName = fs::LongPathName(file);
    ASSERT_TRUE(longName);
    EXPECT_EQ(longName->substr(0, 4), work.Path().substr(0, 4)) << "no \\\\?\\ form given back";
    EXPECT_EQ(fs::DeleteFile(file), kErrorSuccess);
    EXPECT_EQ(fs::DeleteFile(deep + "\\moved.bin"), kErrorSuccess);
    EXPECT_EQ(fs::RemoveFolder(deep), kErrorSuccess);
}

TEST_F(FsWin32Test, FreeSpaceIsThatOfTheDeepestExistingFolder) {
    std::uint64_t here = 0;
    std::uint64_t below = 0;
    std::uint64_t total = 0;
    ASSERT_EQ(fs::FreeSpace(work.Path(), here), kErrorSuccess);
    ASSERT_EQ(fs::FreeSpace(work / "not\\yet/made\\file.bin", below), kErrorSuccess);
    ASSERT_EQ(fs::FreeSpace(work.Path(), total, fs::FreeCount::kTotal), kErrorSuccess);
    EXPECT_GT(here, 0u);
    EXPECT_LT(here > below ? here - below : below - here, std::uint64_t{64} << 20);
    EXPECT_GE(total + (std::uint64_t{64} << 20), here);

    // A drive nobody has.
    const DWORD drives = GetLogicalDrives();
    for (char letter = 'Y'; letter > 'D'; --letter) {
        if ((drives & (1u << (letter - 'A'))) == 0) {
            EXPECT_NE(fs::FreeSpace(std::string(1, letter) + ":\\folder", below), kErrorSuccess);
            break;
        }
    }
    EXPECT_FALSE(fs::IsReadOnlyVolume(work / "not\\yet"));
}

TEST_F(FsWin32Test, FileLockIsExclusiveUntilReleased) {
    fs::FileLock first;
    ASSERT_EQ(first.Acquire(work / "lock", 0), kErrorSuccess);
    fs::FileLock second;
    const DWORD start = GetTickCount();
    EXPECT_EQ(second.Acquire(work / "lock", 50), kErrorSharingViolation);
    EXPECT_GE(GetTickCount() - start, 30u) << "it waited";
    EXPECT_FALSE(second.IsHeld());
    first.Release();
    EXPECT_EQ(second.Acquire(work / "lock", 0), kErrorSuccess);
    EXPECT_TRUE(second.IsHeld());
}

TEST_F(FsWin32Test, FileVersionComesFromTheVersionResource) {
    stubtest::PeOptions options;
    options.version = {1, 2, 3, 4};
    const auto writePe = [&](const std::string& name) {
        const std::vector<std::uint8_t> bytes = stubtest::BuildPe(options).bytes;
        WriteFile(work / name, std::string(bytes.begin(), bytes.end()));
    };
    writePe("v32.exe");
    EXPECT_EQ(fs::FileVersion(work / "v32.exe"), "1.2.3.4");

    options.pe32Plus = true;
    options.version = {10, 0, 65535, 7};
    writePe("v64.dll");
    EXPECT_EQ(fs::FileVersion(work.Path() + "/v64.dll"), "10.0.65535.7");

    options.versionResource = false;
    writePe("none.exe");
    EXPECT_EQ(fs::FileVersion(work / "none.exe"), "");
    WriteFile(work / "text.exe", "not a program");
    EXPECT_EQ(fs::FileVersion(work / "text.exe"), "");
    EXPECT_EQ(fs::FileVersion(work / "missing.exe"), "");

    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::string kernel32 = fs::FileVersion(Narrow(system) + "\\kernel32.dll");
    EXPECT_EQ(std::count(kernel32.begin(), kernel32.end(), '.'), 3) << kernel32;
}

TEST(FsPathTest, FullPathsAreDrivesAndShares) {
    for (const char* full : {"C:\\", "c:/Program Files", "\\\\server\\share", "//server/share"}) {
        EXPECT_TRUE(fs::IsFullPath(full)) << full;
    }
    for (const char* relative :
         {"", "C:", "C:folder", "\\folder", "folder\\file", "\\\\\\x", "1:\\"}) {
        EXPECT_FALSE(fs::IsFullPath(relative)) << relative;
    }
}

}  // namespace
