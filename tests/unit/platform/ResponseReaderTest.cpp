#include <gtest/gtest.h>

#include "platform/posix/http/ResponseReader.h"

namespace {

using stubframework::platform::http::ResponseReader;
using Step = ResponseReader::Step;

TEST(ResponseReaderTest, InterimAndRedirectHeadersComeBeforeTheFinalOne) {
    ResponseReader reader;
    EXPECT_EQ(reader.Read("HTTP/1.1 100 Continue\r\n"), Step::kNone);
    EXPECT_EQ(reader.Read("\r\n"), Step::kIntermediate);
    reader.Read("HTTP/1.1 302 Found\r\n");
    reader.Read("Location: http://mirror/p.bin\r\n");
    EXPECT_EQ(reader.Read("\r\n"), Step::kRedirect);
    reader.Read("HTTP/2 206\r\n");
    reader.Read("etag:   \"a-b\"  \r\n");
    reader.Read("X-Long: first\r\n");
    reader.Read("\tsecond\r\n");
    EXPECT_EQ(reader.Read("\r\n"), Step::kFinal);
    // Trailers after a chunked body change nothing.
    EXPECT_EQ(reader.Read("ETag: \"other\"\r\n"), Step::kNone);
    EXPECT_EQ(reader.Read("\r\n"), Step::kNone);
    const auto& response = reader.Current();
    EXPECT_EQ(response.status, 206);
    EXPECT_EQ(response.Header("ETag").value_or(""), "\"a-b\"");
    EXPECT_EQ(response.Header("x-long").value_or(""), "first second");
    EXPECT_FALSE(response.Header("Location"));
}

TEST(ResponseReaderTest, OddStatusLines) {
    for (const char* line : {"HTTP/1.1 2x0 Odd\r\n", "HTTP/1.1\r\n", "HTTP/1.1 099 Low\r\n"}) {
        ResponseReader reader;
        reader.Read(line);
        EXPECT_EQ(reader.Read("\r\n"), Step::kFinal) << line;
        EXPECT_EQ(reader.Current().status, -1) << line;
    }
    // A redirect without a Location is the final answer.
    ResponseReader reader;
    reader.Read("HTTP/1.1 301 Moved\r\n");
    EXPECT_EQ(reader.Read("\r\n"), Step::kFinal);
}

}  // namespace
