// The tracker page's answers, as its loopback server reads them.
#include <gtest/gtest.h>

#include "platform/posix/host/LoopbackTrackerView.h"

namespace {

using stubframework::platform::posix::ReadTrackResult;
using stubframework::platform::trackerview::CallResult;

TEST(TrackResultTest, OnlyAnAnswerOfTheRightShapeCounts) {
    std::uint64_t id = 0;
    CallResult result;
    ASSERT_TRUE(ReadTrackResult(R"({"id":7,"ok":true,"text":"tracked"})", id, result));
    EXPECT_EQ(id, 7u);
    EXPECT_EQ(result.outcome, CallResult::Outcome::Success);
    EXPECT_EQ(result.text, "tracked");
    ASSERT_TRUE(ReadTrackResult(R"({"id":8,"ok":false})", id, result));
    EXPECT_EQ(result.outcome, CallResult::Outcome::Failed);
    for (const char* body : {R"({"id":-1,"ok":true})", R"({"id":1,"ok":"yes"})",
                             R"({"id":1,"ok":true,"text":5})", R"([1])", "{", ""}) {
        EXPECT_FALSE(ReadTrackResult(body, id, result)) << body;
    }
}

}  // namespace
