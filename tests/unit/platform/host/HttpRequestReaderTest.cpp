#include <gtest/gtest.h>

#include <string>

#include "platform/posix/host/HttpRequestReader.h"

namespace {

using stubframework::platform::posix::HttpRequestReader;
using State = HttpRequestReader::State;

constexpr std::size_t kCap = 1024;

// The status a whole head gets, fed in one piece.
int StatusOf(const std::string& head) {
    HttpRequestReader reader(kCap);
    const State state = reader.Feed(head);
    return state == State::kRefused ? reader.RefusalStatus()
                                    : (state == State::kHeadDone ? 200 : 0);
}

TEST(HttpRequestReaderTest, ReadsAHeadByteByByteAndKeepsWhatFollows) {
    const std::string text =
        "POST /t/bridge/invoke?a=1&session=42 HTTP/1.1\r\nHost: 127.0.0.1:9\r\n"
        "content-length: 4\r\nOrigin:  http://127.0.0.1:9 \r\n\r\nbodyGET / HTTP/1.1";
    HttpRequestReader reader(kCap);
    State state = State::kNeedMore;
    std::size_t fed = 0;
    while (state == State::kNeedMore && fed < text.size()) {
        state = reader.Feed(text.substr(fed++, 1));
    }
    ASSERT_EQ(state, State::kHeadDone);
    const auto& request = reader.Request();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/t/bridge/invoke");
    EXPECT_EQ(request.Param("session"), "42");
    EXPECT_EQ(request.Param("missing"), "");
    EXPECT_EQ(request.Header("CONTENT-LENGTH").value_or(""), "4");
    EXPECT_EQ(request.Header("origin").value_or(""), "http://127.0.0.1:9");
    EXPECT_EQ(request.contentLength, 4u);
    EXPECT_TRUE(request.keepAlive);
    // Byte by byte, the head ends at its blank line: nothing after it was fed.
    EXPECT_EQ(fed, text.find("body"));
}

TEST(HttpRequestReaderTest, RefusesWhatAStrictServerMustNotGuessAt) {
    EXPECT_EQ(StatusOf("GET / HTTP/1.1\r\nHost: x\r\n\r\n"), 200);
    // Any framing but a Content-Length: a chunked body would slip past the cap.
    EXPECT_EQ(StatusOf("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"), 501);
    EXPECT_EQ(StatusOf("POST / HTTP/1.1\r\ntransfer-encoding: identity\r\n\r\n"), 501);
    EXPECT_EQ(StatusOf("POST / HTTP/1.1\r\nContent-Length: 1025\r\n\r\n"), 413);
    EXPECT_EQ(StatusOf("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n"), 400);
    EXPECT_EQ(StatusOf("POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 1\r\n\r\n"), 400);
    EXPECT_EQ(StatusOf("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n"), 400);
    EXPECT_EQ(StatusOf("POST / HTTP/1.1\r\nContent-Length: 1, 1\r\n\r\n"), 400);
    // Request lines and header lines of other shapes.
    for (const char* head :
         {"GET /\r\n\r\n", "GET  / HTTP/1.1\r\n\r\n", "DELETE / HTTP/1.1\r\n\r\n",
          "GET http://x/ HTTP/1.1\r\n\r\n", "GET / HTTP/2\r\n\r\n",
          "GET / HTTP/1.1\r\n folded\r\n\r\n", "GET / HTTP/1.1\r\nNo colon\r\n\r\n",
          "GET / HTTP/1.1\r\nBad name: v\r\n\r\n", "GET /\x7f HTTP/1.1\r\n\r\n"}) {
        EXPECT_EQ(StatusOf(head), 400) << head;
    }
    static const char kWithNul[] = "GET / HTTP/1.1\r\nX: a\0b\r\n\r\n";
    EXPECT_EQ(StatusOf(std::string(kWithNul, sizeof kWithNul - 1)), 400);
}

TEST(HttpRequestReaderTest, BoundsTheHeadWhateverArrives) {
    std::string many = "GET / HTTP/1.1\r\n";
    for (std::size_t i = 0; i <= HttpRequestReader::kMaxHeaders; ++i) {
        many += "X-" + std::to_string(i) + ": v\r\n";
    }
    EXPECT_EQ(StatusOf(many + "\r\n"), 431);
    // A head that never ends is refused once past the limit, not buffered on.
    HttpRequestReader reader(kCap);
    State state = reader.Feed("GET / HTTP/1.1\r\nX: ");
    const std::string chunk(4096, 'a');
    int feeds = 0;
    while (state == State::kNeedMore && feeds < 100) {
        state = reader.Feed(chunk);
        ++feeds;
    }
    EXPECT_EQ(state, State::kRefused);
    EXPECT_EQ(reader.RefusalStatus(), 431);
    EXPECT_LE(feeds, 5);
    // Once refused, it stays refused.
    EXPECT_EQ(reader.Feed("\r\n\r\n"), State::kRefused);
}

TEST(HttpRequestReaderTest, ConnectionHeadersDecideKeepAlive) {
    HttpRequestReader closing(kCap);
    ASSERT_EQ(closing.Feed("GET / HTTP/1.1\r\nConnection: Close\r\n\r\n"), State::kHeadDone);
    EXPECT_FALSE(closing.Request().keepAlive);
    HttpRequestReader old(kCap);
    ASSERT_EQ(old.Feed("GET / HTTP/1.0\r\n\r\n"), State::kHeadDone);
    EXPECT_FALSE(old.Request().keepAlive);
}

}  // namespace
