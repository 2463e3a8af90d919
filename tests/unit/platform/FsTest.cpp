// What the file layer makes is private whatever the umask, and no write goes
// through a link someone else planted.
#include "platform/fs.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/error.h"
#include "support/TestFolder.h"

namespace {

namespace fs = stubframework::platform::fs;
namespace stdfs = std::filesystem;
using stubframework::platform::kErrorAccessDenied;
using stubframework::platform::kErrorAlreadyExists;
using stubframework::platform::kErrorDiskFull;
using stubframework::platform::kErrorNotSameDevice;
using stubframework::platform::kErrorSharingViolation;
using stubframework::platform::kErrorStoppedOnSymlink;
using stubframework::platform::kErrorSuccess;

unsigned Mode(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777u) : 0xFFFFu;
}

// umask 000 for the test: what is made must not depend on it.
class OpenUmask {
public:
    OpenUmask() : old_(umask(0)) {}
    ~OpenUmask() { umask(old_); }
    OpenUmask(const OpenUmask&) = delete;
    OpenUmask& operator=(const OpenUmask&) = delete;

private:
    mode_t old_;
};

class FsTest : public ::testing::Test {
protected:
    stubtest::TestFolder work;
};

TEST_F(FsTest, FoldersAndFilesArePrivateWhateverTheUmask) {
    const OpenUmask open;
    ASSERT_EQ(fs::CreateFolder(work / "one"), kErrorSuccess);
    EXPECT_EQ(Mode(work / "one"), 0700u);
    ASSERT_EQ(fs::CreateFolderTree(work / "a/b/c"), kErrorSuccess);
    EXPECT_EQ(Mode(work / "a"), 0700u);
    EXPECT_EQ(Mode(work / "a/b/c"), 0700u);
    std::string random;
    ASSERT_EQ(fs::CreateRandomFolder(work / "r.", random), kErrorSuccess);
    EXPECT_EQ(Mode(random), 0700u);

    fs::FileHandle file;
    ASSERT_EQ(file.CreateAlways(work / "created"), kErrorSuccess);
    file.Close();
    EXPECT_EQ(Mode(work / "created"), 0600u);
    ASSERT_EQ(file.OpenAlways(work / "opened"), kErrorSuccess);
    file.Close();
    EXPECT_EQ(Mode(work / "opened"), 0600u);
    ASSERT_TRUE(fs::OpenForAppend(work / "log.txt"));
    EXPECT_EQ(Mode(work / "log.txt"), 0600u);

    // A copy keeps only its owner's right to run it.
    stubtest::WriteFile(work / "program", "#!/bin/sh\n");
    stdfs::permissions(work / "program", stdfs::perms::all);
    ASSERT_EQ(fs::CopyFile(work / "program", work / "program-copy", true), kErrorSuccess);
    EXPECT_EQ(Mode(work / "program-copy"), 0700u);
    ASSERT_EQ(fs::CopyFile(work / "created", work / "data-copy", false), kErrorSuccess);
    EXPECT_EQ(Mode(work / "data-copy"), 0600u);
    ASSERT_EQ(fs::MarkExecutable(work / "data-copy"), kErrorSuccess);
    EXPECT_EQ(Mode(work / "data-copy"), 0700u);

    // An existing file keeps the mode it has.
    stdfs::permissions(work / "opened", stdfs::perms::owner_read | stdfs::perms::owner_write |
                                            stdfs::perms::group_read);
    ASSERT_EQ(file.OpenAlways(work / "opened"), kErrorSuccess);
    EXPECT_EQ(Mode(work / "opened"), 0640u);
}

TEST_F(FsTest, ACopyHoldsEveryByteWhateverTheSourceSaysOfItsSize) {
    std::string large(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>((i * 7919) >> 5);
    }
    stubtest::WriteFile(work / "large", large);
    ASSERT_EQ(fs::CopyFile(work / "large", work / "large-copy", true), kErrorSuccess);
    EXPECT_TRUE(stubtest::ReadFile(work / "large-copy") == large);
    // Over a longer file, nothing of the old content stays past the new.
    stubtest::WriteFile(work / "short", "short");
    ASSERT_EQ(fs::CopyFile(work / "short", work / "large-copy", false), kErrorSuccess);
    EXPECT_EQ(stubtest::ReadFile(work / "large-copy"), "short");
    // The kernel's files say they are empty and are not.
    ASSERT_EQ(fs::CopyFile("/proc/self/status", work / "status", true), kErrorSuccess);
    EXPECT_NE(stubtest::ReadFile(work / "status").find("Name:"), std::string::npos);
}

TEST_F(FsTest, NoWriteGoesThroughALink) {
    stubtest::WriteFile(work / "victim", "keep me");
    const std::string victimMode = std::to_string(Mode(work / "victim"));
    stdfs::create_symlink(work / "victim", work / "link");
    stdfs::create_symlink(work / "nowhere", work / "dangling");

    fs::FileHandle file;
    EXPECT_EQ(file.CreateAlways(work / "link"), kErrorStoppedOnSymlink);
    EXPECT_EQ(file.OpenAlways(work / "link"), kErrorStoppedOnSymlink);
    EXPECT_EQ(file.CreateAlways(work / "dangling"), kErrorStoppedOnSymlink);
    EXPECT_FALSE(fs::OpenForAppend(work / "link"));
    EXPECT_NE(fs::CopyFile(work / "dangling", work / "link", false), kErrorSuccess);
    stubtest::WriteFile(work / "source", "other bytes");
    EXPECT_EQ(fs::CopyFile(work / "source", work / "link", false), kErrorStoppedOnSymlink);
    EXPECT_EQ(fs::CopyFile(work / "source", work / "dangling", false), kErrorStoppedOnSymlink);
    EXPECT_EQ(fs::MarkExecutable(work / "link"), kErrorStoppedOnSymlink);

    EXPECT_EQ(stubtest::ReadFile(work / "victim"), "keep me");
    EXPECT_EQ(std::to_string(Mode(work / "victim")), victimMode);
    EXPECT_FALSE(stdfs::exists(work / "nowhere"));
    EXPECT_TRUE(fs::IsLink(work / "dangling"));
}

TEST_F(FsTest, OnlyOurOwnRealFoldersAreClaimed) {
    stdfs::create_directory(work / "ours");
    stdfs::permissions(work / "ours", stdfs::perms::all);
    EXPECT_EQ(fs::ClaimFolder(work / "ours"), kErrorSuccess);
    EXPECT_EQ(Mode(work / "ours"), 0700u);

    stdfs::create_directory(work / "elsewhere");
    stdfs::create_directory_symlink(work / "elsewhere", work / "linked");
    EXPECT_EQ(fs::ClaimFolder(work / "linked"), kErrorStoppedOnSymlink);
    stubtest::WriteFile(work / "file", "x");
    EXPECT_NE(fs::ClaimFolder(work / "file"), kErrorSuccess);
    EXPECT_NE(fs::ClaimFolder(work / "missing"), kErrorSuccess);

    // Another user's folder, where this test may give one away.
    if (geteuid() == 0) {
        stdfs::create_directory(work / "theirs");
        ASSERT_EQ(chown((work / "theirs").c_str(), 4321, 4321), 0);
        EXPECT_EQ(fs::ClaimFolder(work / "theirs"), kErrorAccessDenied);
    }
}

TEST_F(FsTest, FreeSpaceIsThatOfTheDeepestExistingFolder) {
    std::uint64_t here = 0;
    std::uint64_t below = 0;
    ASSERT_EQ(fs::FreeSpace(work.Path(), here), kErrorSuccess);
    ASSERT_EQ(fs::FreeSpace(work / "not/yet/made/file.bin", below), kErrorSuccess);
    EXPECT_GT(here, 0u);
    // The same volume, measured a moment apart.
    EXPECT_LT(here > below ? here - below : below - here, std::uint64_t{64} << 20);

    fs::InjectFreeSpace(1234);
    ASSERT_EQ(fs::FreeSpace(work.Path(), here), kErrorSuccess);
    EXPECT_EQ(here, 1234u);
    fs::InjectFreeSpace(std::nullopt);
}

// A tmpfs of our own for the test's life: another volume, read-only on demand.
class MountedVolume {
public:
    MountedVolume(const std::string& path, unsigned long flags)
        : path_(path),
          mounted_(mount("tmpfs", path.c_str(), "tmpfs", flags, "size=8m,mode=0700") == 0) {}
    ~MountedVolume() {
        if (mounted_) {
            umount2(path_.c_str(), MNT_DETACH);
        }
    }
    MountedVolume(const MountedVolume&) = delete;
    MountedVolume& operator=(const MountedVolume&) = delete;
    bool Mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_;
};

TEST_F(FsTest, RenamesNeverReplaceAndCrossVolumes) {
    stubtest::WriteFile(work / "a", "a");
    stubtest::WriteFile(work / "b", "b");
    EXPECT_EQ(fs::RenameNoReplace(work / "a", work / "b"), kErrorAlreadyExists);
    EXPECT_EQ(stubtest::ReadFile(work / "a"), "a");
    EXPECT_EQ(stubtest::ReadFile(work / "b"), "b");
    EXPECT_EQ(fs::RenameNoReplace(work / "a", work / "c"), kErrorSuccess);

    stdfs::create_directory(work / "other");
    const MountedVolume other(work / "other", 0);
    if (!other.Mounted()) {
        GTEST_SKIP() << "no tmpfs can be mounted here";
    }
    EXPECT_EQ(fs::RenameNoReplace(work / "c", work / "other/c"), kErrorSuccess);
    EXPECT_FALSE(stdfs::exists(work / "c"));
    EXPECT_EQ(stubtest::ReadFile(work / "other/c"), "a");
    // Across volumes too the target stays, and so does the source.
    EXPECT_NE(fs::RenameNoReplace(work / "b", work / "other/c"), kErrorSuccess);
    EXPECT_EQ(stubtest::ReadFile(work / "b"), "b");
    EXPECT_EQ(stubtest::ReadFile(work / "other/c"), "a");
    // A folder does not move across volumes.
    stdfs::create_directory(work / "folder");
    EXPECT_EQ(fs::RenameNoReplace(work / "folder", work / "other/folder"), kErrorNotSameDevice);
    EXPECT_TRUE(stdfs::is_directory(work / "folder"));
}

TEST_F(FsTest, AReadOnlyVolumeIsKnownBeforeAnythingIsWritten) {
    EXPECT_FALSE(fs::IsReadOnlyVolume(work / "not/yet/made"));
    stdfs::create_directory(work / "sealed");
    const MountedVolume sealed(work / "sealed", MS_RDONLY);
    if (!sealed.Mounted()) {
        GTEST_SKIP() << "no tmpfs can be mounted here";
    }
    EXPECT_TRUE(fs::IsReadOnlyVolume(work / "sealed/not/yet/made.bin"));
    EXPECT_TRUE(fs::IsReadOnlyVolume(work / "sealed"));
    EXPECT_FALSE(fs::IsReadOnlyVolume(work.Path()));
}

// Machine-wide data: readable by every user, whatever the umask.
TEST_F(FsTest, SharedFoldersAndFilesAreReadableByEveryone) {
    const OpenUmask open;
    ASSERT_EQ(fs::CreateFolderTree(work / "a/b", fs::Readers::kEveryone), kErrorSuccess);
    EXPECT_EQ(Mode(work / "a"), 0755u);
    EXPECT_EQ(Mode(work / "a/b"), 0755u);
    const std::vector<std::uint8_t> data{'i', 'd'};
    ASSERT_EQ(fs::ReplaceFileContent(work / "a/b/shared", data, fs::Readers::kEveryone),
              kErrorSuccess);
    EXPECT_EQ(Mode(work / "a/b/shared"), 0644u);
    ASSERT_EQ(fs::ReplaceFileContent(work / "a/b/private", data), kErrorSuccess);
    EXPECT_EQ(Mode(work / "a/b/private"), 0600u);

    const mode_t tight = umask(077);
    EXPECT_EQ(fs::ReplaceFileContent(work / "a/b/shared", data, fs::Readers::kEveryone),
              kErrorSuccess);
    EXPECT_EQ(fs::CreateFolder(work / "a/c", fs::Readers::kEveryone), kErrorSuccess);
    umask(tight);
    EXPECT_EQ(Mode(work / "a/b/shared"), 0644u);
    EXPECT_EQ(Mode(work / "a/c"), 0755u);
}

TEST_F(FsTest, ReplacedContentIsWholeOrUntouched) {
    const std::vector<std::uint8_t> first{'o', 'l', 'd'};
    const std::vector<std::uint8_t> second{'n', 'e', 'w', '!'};
    ASSERT_EQ(fs::ReplaceFileContent(work / "data", first), kErrorSuccess);
    EXPECT_EQ(stubtest::ReadFile(work / "data"), "old");

    fs::InjectWriteFailure(kErrorDiskFull);
    EXPECT_EQ(fs::ReplaceFileContent(work / "data", second), kErrorDiskFull);
    fs::InjectWriteFailure(0);
    EXPECT_EQ(stubtest::ReadFile(work / "data"), "old");
    std::vector<fs::FolderEntry> entries;
    ASSERT_EQ(fs::ListFolder(work.Path(), entries), kErrorSuccess);
    EXPECT_EQ(entries.size(), 1u) << "nothing staged is left behind";

    // A link in its place is replaced, never written through.
    stubtest::WriteFile(work / "victim", "keep me");
    stdfs::create_symlink(work / "victim", work / "link");
    ASSERT_EQ(fs::ReplaceFileContent(work / "link", second), kErrorSuccess);
    EXPECT_FALSE(fs::IsLink(work / "link"));
    EXPECT_EQ(stubtest::ReadFile(work / "link"), "new!");
    EXPECT_EQ(stubtest::ReadFile(work / "victim"), "keep me");
}

TEST_F(FsTest, FileLockIsExclusiveUntilReleased) {
    fs::FileLock first;
    ASSERT_EQ(first.Acquire(work / "lock", 0), kErrorSuccess);
    EXPECT_EQ(Mode(work / "lock"), 0644u);
    fs::FileLock second;
    EXPECT_EQ(second.Acquire(work / "lock", 50), kErrorSharingViolation);
    EXPECT_FALSE(second.IsHeld());
    first.Release();
    EXPECT_EQ(second.Acquire(work / "lock", 0), kErrorSuccess);

    stubtest::WriteFile(work / "victim", "keep me");
    stdfs::create_symlink(work / "victim", work / "link");
    fs::FileLock linked;
    EXPECT_EQ(linked.Acquire(work / "link", 0), kErrorStoppedOnSymlink);
}

}  // namespace
