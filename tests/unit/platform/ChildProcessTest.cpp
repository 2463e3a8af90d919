#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "platform/process.h"
#include "support/Sandbox.h"
#include "support/TestFolder.h"

namespace {

using stubframework::platform::process::ChildProcess;

std::uint32_t RunToEnd(const std::string& commandLine) {
    ChildProcess child;
    EXPECT_TRUE(child.Start(commandLine)) << commandLine;
    std::uint32_t code = 0;
    EXPECT_TRUE(child.Wait(ChildProcess::kInfiniteWait, code));
    return code;
}

TEST(ChildProcessTest, ExitCodesArriveWhole) {
    const std::string exit = stubtest::Sandbox::BinPath("stub-test-exit");
    EXPECT_EQ(RunToEnd("\"" + exit + "\" 3010"), 3010u);
    EXPECT_EQ(RunToEnd("\"" + exit + "\" 197800"), 197800u);
    // Programs that are not ours give the 8 bits the system keeps.
    EXPECT_EQ(RunToEnd("/bin/sh -c \"exit 1603\""), 1603u & 0xFF);
    // "msiexec.exe" is our stand-in; without arguments it answers with its usage code.
    EXPECT_EQ(RunToEnd("msiexec.exe"), 1639u);
    ChildProcess missing;
    EXPECT_FALSE(missing.Start("/no/such/program.exe"));
}

TEST(ChildProcessTest, WaitsInSlicesAndNotForGrandchildren) {
    const std::string exit = stubtest::Sandbox::BinPath("stub-test-exit");
    ChildProcess slow;
    ASSERT_TRUE(slow.Start("\"" + exit + "\" 7 0.5"));
    std::uint32_t code = 0;
    EXPECT_FALSE(slow.Wait(50, code));
    EXPECT_TRUE(slow.Wait(stubtest::kNoTimeLimitMs, code));
    EXPECT_EQ(code, 7u);
    // A setup that leaves a program running behind it has still ended: the
    // wait ends while the program it left runs on (were it waited for, the
    // test would not end).
    stubtest::TestFolder folder;
    const std::string left = folder / "left.pid";
    EXPECT_EQ(RunToEnd("/bin/sh -c \"sleep 100000 & echo $! > '" + left + "'; exit 0\""), 0u);
    const std::string pid = stubtest::ReadFile(left);
    ASSERT_FALSE(pid.empty());
    EXPECT_EQ(kill(std::stoi(pid), 0), 0) << "the program left behind still runs";
    kill(std::stoi(pid), SIGKILL);
}

}  // namespace
