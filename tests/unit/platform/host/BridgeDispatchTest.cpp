// Requests of a page as the dispatch gets them: refused when they nest too
// deep or name a session never handed out, answered otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/posix/host/BridgeDispatch.h"
#include "support/BridgeFixture.h"

namespace {

using nlohmann::json;
using stubframework::platform::posix::DispatchBridgeMessage;
using stubframework::platform::posix::EventHub;
using stubframework::platform::posix::kMaxNesting;
using stubframework::platform::posix::NestingWithin;

class NoWindow final : public stubframework::platform::window::HostEvents {
public:
    void OnWindowCreated(stubframework::platform::window::Handle) override {}
    void OnDocumentComplete() override { ++completed; }
    void OnWindowDestroyed() override {}
    void OnNote(const std::string&) override {}
    int completed = 0;
};

class BridgeDispatchTest : public ::testing::Test {
protected:
    // The reply, and whether the request was refused as malformed.
    std::pair<json, bool> Send(const std::string& body) {
        bool bad = false;
        const std::string reply =
            DispatchBridgeMessage(body, bridge_.Dispatch(), window_, hub_, bad);
        return {json::parse(reply), bad};
    }

    stubtest::BridgeFixture bridge_;
    NoWindow window_;
    std::shared_ptr<EventHub> hub_ = std::make_shared<EventHub>();
};

TEST(NestingTest, CountsBracketsOutsideStringsOnly) {
    EXPECT_TRUE(NestingWithin(R"({"a":[[1]]})", 3));
    EXPECT_FALSE(NestingWithin(R"({"a":[[1]]})", 2));
    EXPECT_TRUE(NestingWithin(R"(["[[[[[", "\"[[[[", {"}}}]]]": 1}])", 2));
    EXPECT_TRUE(NestingWithin("[[1],[2],[3],[4]]", 2));
    // Stray closing brackets buy no depth for what follows.
    EXPECT_FALSE(NestingWithin("]]]]]]]]]]" + std::string(9, '['), kMaxNesting));
    EXPECT_TRUE(NestingWithin("not json at all", 0));
}

TEST_F(BridgeDispatchTest, DeepRequestsAreRefusedWithoutRecursion) {
    const std::string deep = R"({"op":"call","name":"getProperty","session":1,"args":)" +
                             std::string(200000, '[') + std::string(200000, ']') + "}";
    hub_->Issue();
    const auto [reply, bad] = Send(deep);
    EXPECT_TRUE(bad);
    EXPECT_EQ(reply["hr"], static_cast<std::int32_t>(E_INVALIDARG));
    // Just within the limit is an ordinary (if wrong) request.
    const std::string within = R"({"op":"call","name":"getProperty","session":1,"args":)" +
                               std::string(kMaxNesting - 1, '[') +
                               std::string(kMaxNesting - 1, ']') + "}";
    EXPECT_FALSE(NestingWithin(within, kMaxNesting - 1));
    EXPECT_TRUE(NestingWithin(within, kMaxNesting));
}

TEST_F(BridgeDispatchTest, OnlySessionsHandedOutAreServed) {
    const auto call = [](const std::string& session) {
        return R"({"op":"call","name":"setProperty","flags":1,"session":)" + session +
               R"(,"args":[{"t":"bstr","v":"k"},{"t":"bstr","v":"v"}]})";
    };
    for (const char* session : {"0", "1", "4294967295", "4294967296", "-1", "1.5", "\"1\""}) {
        EXPECT_TRUE(Send(call(session)).second) << session;
    }
    EXPECT_TRUE(Send(R"({"op":"connect","session":4294967295})").second);
    const unsigned first = hub_->Issue();
    const auto [reply, bad] = Send(call(std::to_string(first)));
    EXPECT_FALSE(bad);
    EXPECT_EQ(reply, json::parse(R"({"hr":0,"result":{"t":"empty"}})"));
    EXPECT_FALSE(Send(R"({"op":"documentComplete","session":1})").second);
    EXPECT_EQ(window_.completed, 1);
}

TEST(EventHubTest, SessionsNeverHandedOutNeitherQueueNorEndTheCurrentOne) {
    EventHub hub;
    EXPECT_FALSE(hub.Issued(0));
    EXPECT_FALSE(hub.Issued(1));
    const unsigned first = hub.Issue();
    const unsigned second = hub.Issue();
    EXPECT_TRUE(hub.Issued(first));
    EXPECT_TRUE(hub.Issued(second));
    EXPECT_FALSE(hub.Issued(4294967295u));
    hub.Connect(second);
    hub.Connect(4294967295u);  // not handed out: changes nothing
    hub.Push(4294967295u, 1, false, "stray");
    hub.Push(second, 1, false, "kept");
    std::string batch;
    EXPECT_TRUE(hub.Next(second, batch, std::chrono::milliseconds(0)));
    EXPECT_EQ(batch, "data: [kept]\n\n");
    // The older page is gone once the newer has connected.
    hub.Push(first, 1, false, "late");
    EXPECT_EQ(hub.Queued(first), 0u);
    EXPECT_FALSE(hub.Next(first, batch, std::chrono::milliseconds(0)));
}

TEST(EventHubTest, AStreamSendsTheNextBatchOnceThePageHasTakenTheLast) {
    EventHub hub;
    const unsigned session = hub.Issue();
    hub.Connect(session);
    hub.Push(session, 1, true, "1a");
    std::string batch;
    ASSERT_TRUE(hub.Next(session, batch, std::chrono::milliseconds(0)));
    EXPECT_EQ(batch, "data: [1a]\n\n");
    // The page is busy with it: the worker's newer figures replace each
    // other, a final call and another callback's report stay, in order.
    hub.Push(session, 1, true, "1b");
    hub.Push(session, 2, true, "2a");
    hub.Push(session, 1, true, "1c");
    hub.Push(session, 2, false, "2-final");
    hub.Push(session, 1, false, "1-final");
    batch.clear();
    ASSERT_TRUE(hub.Next(session, batch, std::chrono::milliseconds(0)));
    EXPECT_EQ(batch, "");
    hub.Taken(session);
    ASSERT_TRUE(hub.Next(session, batch, std::chrono::milliseconds(0)));
    EXPECT_EQ(batch, "data: [1c,2a,2-final,1-final]\n\n");
    // A stream waiting for the page to take a batch ends with its session.
    hub.Push(session, 1, false, "late");
    const unsigned newer = hub.Issue();
    hub.Connect(newer);
    batch.clear();
    EXPECT_FALSE(hub.Next(session, batch, std::chrono::milliseconds(0)));
    hub.Push(newer, 3, false, "3");
    EXPECT_TRUE(hub.Next(newer, batch, std::chrono::milliseconds(0)));
    EXPECT_EQ(batch, "data: [3]\n\n");
}

TEST(EventHubTest, ProgressAloneWaitsForThePaceAndAnythingElseGoesAtOnce) {
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    EventHub hub([&now] { return now; });
    const unsigned session = hub.Issue();
    hub.Connect(session);
    std::string batch;
    hub.Push(session, 1, true, "1a");
    ASSERT_TRUE(hub.Next(session, batch, std::chrono::milliseconds(0)));
    EXPECT_EQ(batch, "data: [1a]\n\n");  // the first batch never waits
    hub.Taken(session);
    hub.Push(session, 1, true, "1b");
    batch.clear();
    ASSERT_TRUE(hub.Next(session, batch, std::chrono::milliseconds(0)));
    EXPECT_EQ(batch, "");
    std::chrono::milliseconds again{0};
    EXPECT_TRUE(hub.TakeCurrent(&again).empty());
    EXPECT_EQ(again, EventHub::kProgressPace);
    now += EventHub::kProgressPace - std::chrono::milliseconds(1);
    hub.Push(session, 1, true, "1c");
    ASSERT_TRUE(hub.Next(session, batch, std::chrono::milliseconds(0)));
    EXPECT_EQ(batch, "");
    now += std::chrono::milliseconds(1);
    ASSERT_TRUE(hub.Next(session, batch, std::chrono::milliseconds(0)));
    EXPECT_EQ(batch, "data: [1c]\n\n");
    hub.Taken(session);
    // A final call takes the waiting figures along at once.
    hub.Push(session, 1, true, "1d");
    hub.Push(session, 1, false, "1-final");
    batch.clear();
    ASSERT_TRUE(hub.Next(session, batch, std::chrono::milliseconds(0)));
    EXPECT_EQ(batch, "data: [1d,1-final]\n\n");
    hub.Push(session, 2, true, "2a");
    EXPECT_TRUE(hub.TakeCurrent(&again).empty());
    now += EventHub::kProgressPace;
    EXPECT_EQ(hub.TakeCurrent(&again), std::vector<std::string>{"2a"});
    EXPECT_EQ(again.count(), 0);
}

TEST(EventHubTest, APageThatDoesNotListenCannotGrowTheQueueWithoutBound) {
    EventHub hub;
    const unsigned session = hub.Issue();
    // One worker's progress, far past the cap, then its final call.
    for (int i = 0; i < 100000; ++i) {
        hub.Push(session, 7, true, "p7-" + std::to_string(i));
    }
    hub.Push(session, 7, false, "final7");
    EXPECT_EQ(hub.Queued(session), 2u);
    // Many callbacks at once: the oldest progress reports go, never a final.
    int finals = 1;
    for (int id = 100; id < 100 + 3 * static_cast<int>(EventHub::kMaxQueued); ++id) {
        hub.Push(session, id, true, "p" + std::to_string(id));
        if (id % 10 == 0) {
            hub.Push(session, id, false, "final" + std::to_string(id));
            ++finals;
        }
    }
    EXPECT_LE(hub.Queued(session), EventHub::kMaxQueued);
    hub.Connect(session);
    const std::vector<std::string> events = hub.TakeCurrent();
    // The worker's newest figures come before its final call, in order.
    const auto newest = std::find(events.begin(), events.end(), "p7-99999");
    const auto final = std::find(events.begin(), events.end(), "final7");
    ASSERT_NE(final, events.end());
    if (newest != events.end()) {
        EXPECT_LT(newest, final);
    }
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.rfind("final", 0) == 0; }),
              finals);
    EXPECT_EQ(events.back(), "p" + std::to_string(99 + 3 * EventHub::kMaxQueued));
}

}  // namespace
