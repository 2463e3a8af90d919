#include "downloader/ContentRange.h"

#include <gtest/gtest.h>

namespace {

using downloader::ContentRange;
using downloader::ParseContentRange;

TEST(ContentRangeTest, ReadsTheRangeAndItsTotal) {
    ContentRange range;
    ASSERT_TRUE(ParseContentRange("bytes 500-999/1000", range));
    EXPECT_EQ(range.offset, 500);
    EXPECT_EQ(range.size, 500);
    EXPECT_EQ(range.total, 1000);
    ASSERT_TRUE(ParseContentRange("bytes 0-0/1", range));
    EXPECT_EQ(range.size, 1);
    EXPECT_FALSE(ParseContentRange("bytes=3145728-10485759/10485760", range));
}

TEST(ContentRangeTest, RefusesWhatCannotBeARange) {
    for (const char* text :
         {"", "bytes", "bytes */1000", "bytes 0-99/*", "bytes 100-50/1000", "bytes -5-10/100",
          "bytes 0-100/100", "items 0-1/2", "bytes 0-9223372036854775807/9223372036854775807",
          "bytes 99999999999999999999-1/2"}) {
        ContentRange range;
        EXPECT_FALSE(ParseContentRange(text, range)) << text;
        EXPECT_EQ(range.total, -1) << text;
    }
}

}  // namespace
