// The file and folder methods as a page calls them, with Windows-spelled
// paths where the pages write them so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/TempFolder.h"
#include "pe/PeImage.h"
#include "platform/fs.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"

namespace {

namespace stdfs = std::filesystem;
using stubtest::CallMethod;

bool Has(const std::string& log, const std::string& line) {
    return log.find(line) != std::string::npos;
}

// A log line that ends with `text`.
bool HasLineEnding(const std::string& log, const std::string& text) {
    return Has(log, text + "\r\n") || Has(log, text + "\n");
}

// "/a/b" as a page on Windows would write it.
std::string PageSpelling(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class FileMethodsTest : public ::testing::Test {
protected:
    stubtest::BridgeFixture bridge_;
    stubtest::TestFolder scratch_;
};

TEST_F(FileMethodsTest, FilesAndFoldersAreSeenAndMadeAsThePagesExpect) {
    const std::string file = scratch_ / "setup.bin";
    stubtest::WriteFile(file, "12345");
    const auto exists = CallMethod(bridge_, "isFileExists", {PageSpelling(file)});
    EXPECT_TRUE(exists.Bool());
    EXPECT_TRUE(Has(exists.log, "args: " + file + ", Result: exist")) << exists.log;
    EXPECT_TRUE(CallMethod(bridge_, "isFileExists", {scratch_.Path()}).Bool());
    const auto missing = CallMethod(bridge_, "isFileExists", {scratch_ / "none"});
    EXPECT_FALSE(missing.Bool());
    EXPECT_TRUE(Has(missing.log, "Result: not exist")) << missing.log;

    // Something new and whole-pathed only.
    const std::string nested = scratch_ / "a/b/c";
    EXPECT_TRUE(CallMethod(bridge_, "createDirectory", {PageSpelling(nested)}).Bool());
    EXPECT_TRUE(stdfs::is_directory(nested));
    EXPECT_FALSE(CallMethod(bridge_, "createDirectory", {nested}).Bool());
    EXPECT_FALSE(CallMethod(bridge_, "createDirectory", {"relative\\folder"}).Bool());
    EXPECT_FALSE(stdfs::exists("relative"));

    const auto size = CallMethod(bridge_, "getFileSize", {PageSpelling(file)});
    EXPECT_EQ(size.Text(), "5");
    EXPECT_TRUE(Has(size.log, "EMGetFileSize 5")) << size.log;
    EXPECT_EQ(CallMethod(bridge_, "getFileSize", {scratch_.Path()}).Text(), "0");
    EXPECT_EQ(CallMethod(bridge_, "getFileSize", {scratch_ / "none"}).Text(), "0");
    // The low 32 bits, as the pages' other sizes.
    const std::string large = scratch_ / "large.bin";
    stubtest::WriteFile(large, "");
    stdfs::resize_file(large, (std::uintmax_t{1} << 32) + 7);
    EXPECT_EQ(CallMethod(bridge_, "getFileSize", {large}).Text(), "7");
}

TEST_F(FileMethodsTest, ARenameNeverReplacesItsTarget) {
    const std::string from = scratch_ / "from.txt";
    const std::string to = scratch_ / "to.txt";
    stubtest::WriteFile(from, "new");
    stubtest::WriteFile(to, "old");
    const auto refused = CallMethod(bridge_, "renameFile", {PageSpelling(from), PageSpelling(to)});
    EXPECT_FALSE(refused.Bool());
    EXPECT_TRUE(Has(refused.log, "EMRenameFile args oldFileName:" + from + ", newFileName:" + to +
                                     ", Result: -1"))
        << refused.log;
    EXPECT_EQ(stubtest::ReadFile(from), "new");
    EXPECT_EQ(stubtest::ReadFile(to), "old");

    const std::string free = scratch_ / "free.txt";
    const auto renamed = CallMethod(bridge_, "renameFile", {from, free});
    EXPECT_TRUE(renamed.Bool());
    EXPECT_TRUE(Has(renamed.log, ", Result: 0")) << renamed.log;
    EXPECT_FALSE(stdfs::exists(from));
    EXPECT_EQ(stubtest::ReadFile(free), "new");
    EXPECT_FALSE(CallMethod(bridge_, "renameFile", {from, scratch_ / "again.txt"}).Bool());
}

TEST_F(FileMethodsTest, VolumesAndVersionsAnswerWithTextOrNothing) {
    stubframework::platform::fs::InjectFreeSpace(123456789012ULL);
    const auto space =
        CallMethod(bridge_, "getDiskAvailableSpace", {PageSpelling(scratch_.Path())});
    stubframework::platform::fs::InjectFreeSpace(std::nullopt);
    EXPECT_EQ(space.Text(), "123456789012");
    EXPECT_TRUE(
        HasLineEnding(space.log, "EMGetDiskAvailableSpace args: " + scratch_.Path() + ", Result"))
        << space.log;
    // A folder not made yet counts on the volume it will be made on.
    const std::string real =
        CallMethod(bridge_, "getDiskAvailableSpace", {scratch_ / "x/y"}).Text();
    EXPECT_NE(real, "0");

    // A Linux program carries its version in an embedded block.
    const std::string program = scratch_ / "program";
    const auto block = stubframework::pe::MakeVersionBlock({24, 0, 3, 17});
    stubtest::WriteFile(program,
                        "\x7f"
                        "ELF...." +
                            std::string(block.begin(), block.end()) + "tail");
    const auto version = CallMethod(bridge_, "getFileVersion", {".EXE", PageSpelling(program)});
    EXPECT_EQ(version.Text(), "24.0.3.17");
    EXPECT_TRUE(Has(version.log, "EMGetMSIFileVersion args " + program + ", Result 24.0.3.17"))
        << version.log;
    EXPECT_EQ(CallMethod(bridge_, "getFileVersion", {".dll", program}).Text(), "");
    EXPECT_EQ(CallMethod(bridge_, "getFileVersion", {".exe", scratch_ / "none"}).Text(), "");
    EXPECT_EQ(CallMethod(bridge_, "getFileVersion", {".msi", program}).Text(), "");
}

TEST_F(FileMethodsTest, FoldersOfTheRunAndTheUser) {
    auto& core = bridge_.Framework().Core();
    const std::string temp = stubframework::core::LongTempPath();
    const auto product = CallMethod(bridge_, "getTempPath", {""});
    EXPECT_EQ(product.Text(), temp + core.ProductId() + "/");
    EXPECT_TRUE(stdfs::is_directory(temp + core.ProductId()));
    EXPECT_TRUE(Has(product.log, "EMGetTempPath " + temp + core.ProductId() + "/")) << product.log;
    EXPECT_EQ(CallMethod(bridge_, "getTempPath", {"Other"}).Text(), temp + "Other/");
    EXPECT_TRUE(stdfs::is_directory(temp + "Other"));

    const auto current = CallMethod(bridge_, "getCurrentPath", {});
    const std::string folder =
        stubframework::core::LauncherFolder(stubframework::core::CommandLineArguments());
    EXPECT_EQ(current.Text(), folder);
    EXPECT_TRUE(Has(current.log, "EMGetCurrentPath " + folder)) << current.log;

    const std::string home = scratch_ / "home";
    stdfs::create_directories(home + "/.config");
    stubtest::ScopedEnv homeVariable("HOME", home);
    stubtest::ScopedEnv config("XDG_CONFIG_HOME", "");
    stubtest::ScopedEnv noSudo("SUDO_UID", "");
    stubtest::ScopedEnv noPkexec("PKEXEC_UID", "");
    EXPECT_EQ(CallMethod(bridge_, "getDesktopPath", {}).Text(), home + "/Desktop");
    stubtest::WriteFile(
        home + "/.config/user-dirs.dirs",
        "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch/\"\n");
    const auto desktop = CallMethod(bridge_, "getDesktopPath", {});
    EXPECT_EQ(desktop.Text(), home + "/Schreibtisch");
    EXPECT_TRUE(Has(desktop.log, "EMGetDesktopPath " + home + "/Schreibtisch")) << desktop.log;

    core.Properties().Set("resourceLocation", "/tmp/pages/");
    EXPECT_EQ(CallMethod(bridge_, "getResourceLocation", {}).Text(), "/tmp/pages/");
}

TEST_F(FileMethodsTest, AnImageWithoutATagGivesNothing) {
    for (const int size : {0, -3, 5}) {
        const auto call = CallMethod(bridge_, "getEmbeddedDataFromCurrentExe", {size});
        EXPECT_EQ(call.Text(), "");
        EXPECT_TRUE(Has(call.log, "EMGetEmbeddedDataFromCurrentExe size : " + std::to_string(size)))
            << call.log;
        EXPECT_TRUE(HasLineEnding(call.log, "EMGetEmbeddedDataFromCurrentExe Result : "))
            << call.log;
    }
}

}  // namespace
