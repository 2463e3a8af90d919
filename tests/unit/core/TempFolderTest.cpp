#include "core/TempFolder.h"

#include "platform/clock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "support/TestFolder.h"

namespace {

using stubframework::core::CreateUniqueTempFolder;
using stubframework::core::DeleteFolderTree;
namespace stdfs = std::filesystem;

class TempFolderTest : public ::testing::Test {
protected:
    stubtest::TestFolder temp_;
    stubtest::ScopedEnv tmpdir_{"TMPDIR", temp_.Path()};
};

TEST_F(TempFolderTest, CreatesHexNamedFolderDirectlyUnderTemp) {
    std::string folder;
    ASSERT_TRUE(CreateUniqueTempFolder(folder));
    EXPECT_EQ(folder.back(), '/');
    const stdfs::path path(folder.substr(0, folder.size() - 1));
    EXPECT_EQ(path.parent_path().string(), temp_.Path());
    EXPECT_TRUE(stdfs::is_directory(path));
    EXPECT_EQ(path.filename().string().find_first_not_of("0123456789abcdef"), std::string::npos);
}

// A replacement left in its launcher's folder takes the folder over, and
// only a per-run folder of the temporary folder.
TEST_F(TempFolderTest, OnlyPerRunFoldersAreAdoptedAndALiveOwnerKeepsThem) {
    std::string folder;
    ASSERT_TRUE(CreateUniqueTempFolder(folder));
    stdfs::remove(folder + ".stub-owner");
    EXPECT_TRUE(stubframework::core::AdoptTempFolder(folder));
    EXPECT_FALSE(stubtest::ReadFile(folder + ".stub-owner").empty());
    EXPECT_EQ(stubframework::core::RemoveAbandonedTempFolders(nullptr), 0);
    EXPECT_TRUE(stdfs::is_directory(folder));

    stdfs::create_directory(temp_ / "notours");
    stubtest::TestFolder elsewhere;
    stdfs::create_directory(elsewhere / "abc");
    for (const std::string& other : {temp_ / "notours/", elsewhere / "abc/",
                                     folder.substr(0, folder.size() - 1), temp_.Path() + "/"}) {
        EXPECT_FALSE(stubframework::core::AdoptTempFolder(other)) << other;
    }
    EXPECT_FALSE(stdfs::exists(temp_ / "notours/.stub-owner"));
    EXPECT_FALSE(stdfs::exists(elsewhere / "abc/.stub-owner"));
}

TEST_F(TempFolderTest, TakenNamesAreSkippedToTheNextNumber) {
    // Occupy the next few seconds of tick names; the folder must land after them.
    std::string first;
    ASSERT_TRUE(CreateUniqueTempFolder(first));
    const std::string name = stdfs::path(first.substr(0, first.size() - 1)).filename().string();
    const std::uint32_t start = std::stoul(name, nullptr, 16);
    char hex[16];
    for (std::uint32_t n = start + 1; n < start + 5000; ++n) {
        std::snprintf(hex, sizeof hex, "%x", n);
        stdfs::create_directory(temp_ / hex);
    }
    const std::uint32_t tickBefore = stubframework::platform::TickCount();
    std::string next;
    ASSERT_TRUE(CreateUniqueTempFolder(next));
    const std::string nextName = stdfs::path(next.substr(0, next.size() - 1)).filename().string();
    const std::uint32_t number = std::stoul(nextName, nullptr, 16);
    // The first free number after the taken ones, unless the clock has
    // already moved past them on a slow machine.
    if (tickBefore < start + 5000) {
        EXPECT_EQ(number, start + 5000);
    } else {
        EXPECT_GE(number, tickBefore);
    }
}

TEST_F(TempFolderTest, ConcurrentCallersNeverShareAFolder) {
    // Threads and processes started together hit the same tick values.
    constexpr int kThreads = 4;
    constexpr int kPerThread = 50;
    // Fork first: a child of a process with running threads may inherit held locks.
    std::vector<pid_t> children;
    for (int p = 0; p < 3; ++p) {
        const pid_t child = fork();
        if (child == 0) {
            std::string folder;
            int ok = 0;
            for (int i = 0; i < kPerThread; ++i) {
                ok += CreateUniqueTempFolder(folder) ? 1 : 0;
            }
            _exit(ok == kPerThread ? 0 : 1);
        }
        children.push_back(child);
    }
    std::vector<std::vector<std::string>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&made, t] {
            for (int i = 0; i < kPerThread; ++i) {
                std::string folder;
                if (CreateUniqueTempFolder(folder)) {
                    made[t].push_back(folder);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<std::string> unique;
    for (const auto& list : made) {
        EXPECT_EQ(list.size(), static_cast<std::size_t>(kPerThread));
        unique.insert(list.begin(), list.end());
    }
    EXPECT_EQ(unique.size(), static_cast<std::size_t>(kThreads * kPerThread));
    const auto count = std::distance(stdfs::directory_iterator(temp_.Path()), {});
    EXPECT_EQ(count, kThreads * kPerThread + 3 * kPerThread);
}

TEST(TempFolderPathTest, FailsOnTooLongOrMissingTempFolder) {
    stubtest::TestFolder base;
    std::string longPath = base.Path() + "/";
    longPath += std::string(258 - longPath.size(), 'a');  // 258 + the added separator = 259
    ASSERT_EQ(longPath.size(), 258u);
    stdfs::create_directories(longPath);
    std::string folder;
    {
        stubtest::ScopedEnv tmpdir("TMPDIR", longPath);
        EXPECT_FALSE(CreateUniqueTempFolder(folder));
    }
    {
        stubtest::ScopedEnv tmpdir("TMPDIR", longPath.substr(0, 257));
        stdfs::create_directories(longPath.substr(0, 257));
        EXPECT_TRUE(CreateUniqueTempFolder(folder));
    }
    {
        stubtest::ScopedEnv tmpdir("TMPDIR", base / "missing");
        EXPECT_FALSE(CreateUniqueTempFolder(folder));
    }
}

TEST(DeleteFolderTreeTest, RemovesNestedFoldersButNeverFollowsLinks) {
    stubtest::TestFolder base;
    const std::string root = base / "root";
    stdfs::create_directories(root + "/a/b/c");
    stubtest::WriteFile(root + "/top.txt", "x");
    stubtest::WriteFile(root + "/a/b/c/deep.txt", "x");
    stdfs::create_directories(base / "outside");
    stubtest::WriteFile(base / "outside/keep.txt", "keep");
    stdfs::create_directory_symlink(base / "outside", root + "/a/link");

    EXPECT_TRUE(DeleteFolderTree(root + "/"));
    EXPECT_FALSE(stdfs::exists(root));
    EXPECT_EQ(stubtest::ReadFile(base / "outside/keep.txt"), "keep");
}

TEST(DeleteFolderTreeTest, ReportsFailureForMissingOrEmptyPath) {
    stubtest::TestFolder base;
    EXPECT_FALSE(DeleteFolderTree(base / "missing"));
    EXPECT_FALSE(DeleteFolderTree(""));
}

}  // namespace
