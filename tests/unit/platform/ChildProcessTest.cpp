#include <gtest/gtest.h>

#include <chrono>

#include "platform/process.h"
#include "support/Sandbox.h"

namespace {

using stubframework::platform::process::ChildProcess;
using Clock = std::chrono::steady_clock;

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
    EXPECT_TRUE(slow.Wait(5000, code));
    EXPECT_EQ(code, 7u);
    // A setup that leaves a program running behind it has still ended.
    const auto start = Clock::now();
    EXPECT_EQ(RunToEnd("/bin/sh -c \"sleep 20 & exit 0\""), 0u);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
