// The byte range a response says it carries: "bytes FIRST-LAST/TOTAL".
#pragma once

#include <cstdint>
#include <string_view>

namespace downloader {

struct ContentRange {
    std::int64_t offset = 0;
    std::int64_t size = 0;
    std::int64_t total = -1;  // unknown
};

// Reads a Content-Range header value. False (and the range left as it was)
// when any of the three numbers is missing, such as a total of "*", or when
// they cannot describe a range (negative, last before first, past the total).
bool ParseContentRange(std::string_view text, ContentRange& range);

}  // namespace downloader
