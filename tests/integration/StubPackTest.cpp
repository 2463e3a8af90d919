// stub-pack --tag: the tagged installer carries its tag and still loads its
// pages; a tag that cannot be carried leaves no output behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "core/EmbeddedTag.h"
#include "support/Sandbox.h"

namespace {

namespace stdfs = std::filesystem;
using stubframework::core::ReadEmbeddedTagOfFile;

class StubPackTest : public ::testing::Test {
protected:
    // Runs stub-pack with its standard error kept: the exit status.
    int Pack(const std::string& arguments) {
        const std::string command = "'" + stubtest::Sandbox::BinPath("stub-pack") + "' " +
                                    arguments + " >/dev/null 2>'" + (work_ / "stderr") + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Errors() const { return stubtest::ReadFile(work_ / "stderr"); }

    stubtest::TestFolder work_;
    const std::string bare_ = stubtest::Sandbox::BinPath("BrindlemarkInstall-bare");
    const std::string pages_ = std::string(STUB_SOURCE_DIR) + "/pages";
    const std::string out_ = work_ / "BrindlemarkInstall";
};

TEST_F(StubPackTest, ATaggedStubCarriesItsTagAndStillLoadsItsPages) {
    const std::string tag = "campaign=spring&id=42 Zürich";
    ASSERT_EQ(Pack("--tag '" + tag + "' '" + bare_ + "' '" + pages_ + "' '" + out_ + "'"), 0)
        << Errors();
    EXPECT_EQ(ReadEmbeddedTagOfFile(out_), tag);
    EXPECT_FALSE(stdfs::exists(out_ + ".partial"));
    // The build's own untagged installer has none.
    EXPECT_FALSE(ReadEmbeddedTagOfFile(stubtest::Sandbox::BinPath("BrindlemarkInstall")));

    stubtest::Sandbox sandbox;
    const std::string urlFile = sandbox.Runtime() + "/page-url";
    sandbox.AddEnvironment("STUB_NO_BROWSER=1 STUB_URL_FILE='" + urlFile + "'");
    const pid_t stub = sandbox.Start(out_, "run=1 --ui=external");
    // The page is served once the pages are out; ctest's time-out ends a hang.
    while (!stdfs::exists(urlFile) && kill(stub, 0) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(stub, SIGTERM);
    EXPECT_EQ(stubtest::Sandbox::Wait(stub), 0);
    const std::vector<std::string> logs = sandbox.KeptLogs();
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_NE(logs[0].find("DEBUG] load resource success"), std::string::npos) << logs[0];
    EXPECT_EQ(logs[0].find("Load Resource from pe failed"), std::string::npos) << logs[0];
}

TEST_F(StubPackTest, TheTagMayComeAnywhereAndBeEmpty) {
    ASSERT_EQ(Pack("'" + bare_ + "' --tag '' '" + pages_ + "' '" + out_ + "'"), 0) << Errors();
    EXPECT_EQ(ReadEmbeddedTagOfFile(out_), "");
    EXPECT_EQ(Pack("'" + bare_ + "' '" + pages_ + "' '" + out_ + "' --tag"), 2);
    EXPECT_EQ(Pack("--tag a --tag b '" + bare_ + "' '" + pages_ + "' '" + out_ + "'"), 2);
}

TEST_F(StubPackTest, ATagTooLongForTheTrailerIsRefusedWithoutOutput) {
    const std::string longest(stubframework::core::kMaxTagInTrailer, 'x');
    ASSERT_EQ(Pack("--tag " + longest + " '" + bare_ + "' '" + pages_ + "' '" + out_ + "'"), 0)
        << Errors();
    EXPECT_EQ(ReadEmbeddedTagOfFile(out_), longest);
    stdfs::remove(out_);

    EXPECT_EQ(Pack("--tag " + longest + "x '" + bare_ + "' '" + pages_ + "' '" + out_ + "'"), 2);
    EXPECT_NE(Errors().find("stub-pack: the tag is too long: 64977 bytes, at most 64976"),
              std::string::npos)
        << Errors();
    EXPECT_FALSE(stdfs::exists(out_));
    EXPECT_FALSE(stdfs::exists(out_ + ".partial"));
}

}  // namespace
