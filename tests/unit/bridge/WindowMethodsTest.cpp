#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "bridge/WindowPlacement.h"
#include "support/BridgeFixture.h"
#include "support/MethodCall.h"

namespace {

using stubframework::CenteredRect;
using stubframework::platform::window::Rect;

TEST(WindowPlacementTest, CentresOnTheReferenceInsideTheWorkArea) {
    const Rect screen{0, 0, 1280, 1024};
    const Rect placed = CenteredRect(400, 200, screen, screen);
    EXPECT_EQ(placed.left, 440);
    EXPECT_EQ(placed.top, 412);
    EXPECT_EQ(placed.Width(), 400);
    // An owner near the edge: the window stays on the work area.
    const Rect owner{1200, 950, 1400, 1100};
    const Rect clamped = CenteredRect(500, 300, owner, screen);
    EXPECT_EQ(clamped.right, 1280);
    EXPECT_EQ(clamped.bottom, 1024);
    const Rect tooBig = CenteredRect(2000, 2000, screen, screen);
    EXPECT_EQ(tooBig.left, 0);
    EXPECT_EQ(tooBig.top, 0);
}

class WindowMethodsTest : public ::testing::Test {
protected:
    // Calls a method with string arguments; the boolean it returns.
    bool CallBool(const std::string& name, std::initializer_list<stubtest::ScriptValue> arguments) {
        const stubtest::CallResult call =
            stubtest::CallMethod(bridge_, name, arguments, DISPATCH_METHOD | DISPATCH_PROPERTYGET);
        EXPECT_EQ(call.hr, S_OK);
        return call.Bool();
    }

    stubtest::BridgeFixture bridge_;
    stubtest::TestFolder scratch_;
};

TEST_F(WindowMethodsTest, CommandsStartWithoutBeingAwaited) {
    const std::string marker = scratch_ / "ran";
    // A failing exit code still counts as started.
    EXPECT_TRUE(CallBool("executeCommand", {"echo ran > '" + marker + "'; exit 3"}));
    EXPECT_TRUE(CallBool("runApplication", {"/bin/true"}));
    EXPECT_FALSE(CallBool("runApplication", {"/nonexistent/program --x"}));
    while (!std::filesystem::exists(marker)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(stubtest::ReadFile(marker), "ran\n");
    const std::string log = bridge_.LogText();
    EXPECT_NE(log.find("EMRunApplication: /nonexistent/program --x, result: fail"),
              std::string::npos);
    EXPECT_NE(log.find("EMExecuteCommand: echo ran"), std::string::npos);
}

TEST_F(WindowMethodsTest, MessageBoxesWithoutAWindowAnswerOk) {
    EXPECT_TRUE(CallBool("confirmMessageBox", {"Really?", "Title"}));
    EXPECT_NE(bridge_.LogText().find("EMConfirmMessageBox Result : Close"), std::string::npos);
}

}  // namespace
