// The installer on a machine other people use: what it leaves is private,
// folders others prepared for it are refused, links they planted are never
// written through, and what an ended run left is removed by the next.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/Sandbox.h"

namespace {

namespace stdfs = std::filesystem;

unsigned Mode(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777u) : 0xFFFFu;
}

// The log names of the next minute: a planter does not know the second.
std::vector<std::string> NextLogNames() {
    std::vector<std::string> names;
    const std::time_t now = std::time(nullptr);
    for (int second = -2; second < 60; ++second) {
        const std::time_t at = now + second;
        std::tm utc{};
        gmtime_r(&at, &utc);
        char name[64];
        std::strftime(name, sizeof name, "installer_log_%Y%m%d%H%M%S.txt", &utc);
        names.emplace_back(name);
    }
    return names;
}

class SharedMachineTest : public ::testing::Test {
protected:
    // The folders beside <tmp>/Brindlemark_log that a refused one made.
    std::vector<std::string> FreshLogFolders() const {
        std::vector<std::string> folders;
        for (const auto& entry : stdfs::directory_iterator(sandbox_.Tmp())) {
            if (entry.path().filename().string().rfind("Brindlemark_log.", 0) == 0) {
                folders.push_back(entry.path().string());
            }
        }
        return folders;
    }

    std::string OnlyLogIn(const std::string& folder) const {
        std::vector<std::string> files;
        for (const auto& entry : stdfs::directory_iterator(folder)) {
            files.push_back(entry.path().string());
        }
        return files.size() == 1 ? stubtest::ReadFile(files[0]) : std::string();
    }

    stubtest::Sandbox sandbox_;
    stubtest::TestFolder elsewhere_;
};

TEST_F(SharedMachineTest, WhatTheRunLeavesIsPrivateUnderAnOpenUmask) {
    sandbox_.SetShellPrefix("umask 000");
    ASSERT_EQ(sandbox_.Run("BrindlemarkInstall-bare"), 0);
    const std::string folder = sandbox_.Tmp() + "/Brindlemark_log";
    EXPECT_EQ(Mode(folder), 0700u);
    for (const auto& entry : stdfs::directory_iterator(folder)) {
        EXPECT_EQ(Mode(entry.path().string()), 0600u) << entry.path();
    }
    for (const auto& entry : stdfs::recursive_directory_iterator(sandbox_.Tmp())) {
        const unsigned mode = Mode(entry.path().string());
        EXPECT_EQ(mode & 0077u, 0u) << entry.path() << " is open to others";
    }
}

TEST_F(SharedMachineTest, AKeptLogFolderHeldByALinkIsRefused) {
    const std::string victim = elsewhere_ / "victim-folder";
    stdfs::create_directory(victim);
    stdfs::create_directory_symlink(victim, sandbox_.Tmp() + "/Brindlemark_log");

    ASSERT_EQ(sandbox_.Run("BrindlemarkInstall-bare"), 0);

    EXPECT_TRUE(stdfs::is_empty(victim));
    const std::vector<std::string> fresh = FreshLogFolders();
    ASSERT_EQ(fresh.size(), 1u);
    EXPECT_EQ(Mode(fresh[0]), 0700u);
    const std::string log = OnlyLogIn(fresh[0]);
    EXPECT_NE(log.find("/Brindlemark_log is a link; logs are kept in " + fresh[0]),
              std::string::npos)
        << log;
}

TEST_F(SharedMachineTest, AKeptLogFolderOfAnotherUserIsRefusedAndItsLinksAreNotFollowed) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a folder to another user";
    }
    // Another user made the folder first, open to all, with links named like
    // the next log files.
    const std::string hostile = sandbox_.Tmp() + "/Brindlemark_log";
    stdfs::create_directory(hostile);
    stdfs::permissions(hostile, stdfs::perms::all);
    const std::string victim = elsewhere_ / "victim";
    stubtest::WriteFile(victim, "keep me");
    chmod(victim.c_str(), 0600);
    for (const std::string& name : NextLogNames()) {
        stdfs::create_symlink(victim, hostile + "/" + name);
    }
    stdfs::create_symlink(elsewhere_ / "created-by-root", hostile + "/dangling");
    ASSERT_EQ(lchown(hostile.c_str(), 4321, 4321), 0);

    ASSERT_EQ(sandbox_.Run("BrindlemarkInstall-bare"), 0);

    EXPECT_EQ(stubtest::ReadFile(victim), "keep me");
    EXPECT_EQ(Mode(victim), 0600u);
    EXPECT_FALSE(stdfs::exists(elsewhere_ / "created-by-root"));
    const std::vector<std::string> fresh = FreshLogFolders();
    ASSERT_EQ(fresh.size(), 1u);
    const std::string log = OnlyLogIn(fresh[0]);
    EXPECT_NE(log.find("/Brindlemark_log is not a folder of ours; logs are kept in " + fresh[0]),
              std::string::npos)
        << log;
}

TEST_F(SharedMachineTest, FoldersOfEndedRunsAreRemovedByTheNext) {
    // A run that was killed: its process has ended, its folder is still there.
    const pid_t ended = fork();
    if (ended == 0) {
        _exit(0);
    }
    ASSERT_EQ(stubtest::Sandbox::Wait(ended), 0);
    const auto folderWithOwner = [this](const std::string& name, const std::string& owner) {
        std::string folder = sandbox_.Tmp() + "/" + name;
        stdfs::create_directory(folder);
        stubtest::WriteFile(folder + "/page.html", "left behind");
        if (!owner.empty()) {
            stubtest::WriteFile(folder + "/.stub-owner", owner);
        }
        return folder;
    };
    const std::string abandoned = folderWithOwner("a1b2", std::to_string(ended) + ":12345");
    const std::string running =
        folderWithOwner("c3d4", stubframework::platform::process::ProcessMark(
                                    stubframework::platform::process::CurrentProcessId()));
    const std::string unmarked = folderWithOwner("e5f6", "");
    const std::string notHex = folderWithOwner("keepme", std::to_string(ended) + ":12345");

    ASSERT_EQ(sandbox_.Run("BrindlemarkInstall-bare"), 0);

    EXPECT_FALSE(stdfs::exists(abandoned));
    EXPECT_TRUE(stdfs::exists(running));
    EXPECT_TRUE(stdfs::exists(unmarked));
    EXPECT_TRUE(stdfs::exists(notHex));
    const std::vector<std::string> logs = sandbox_.KeptLogs();
    ASSERT_FALSE(logs.empty());
    EXPECT_NE(logs.back().find("Removed " + abandoned + "/, left by process"), std::string::npos)
        << logs.back();
}

}  // namespace
