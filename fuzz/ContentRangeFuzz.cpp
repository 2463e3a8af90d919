// Content-Range values come from servers: any text is read or refused, and a
// range that is read lies inside its total.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "downloader/ContentRange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    downloader::ContentRange range;
    if (!downloader::ParseContentRange(std::string_view(reinterpret_cast<const char*>(data), size),
                                       range)) {
        return 0;
    }
    if (range.offset < 0 || range.size <= 0 || range.offset + range.size > range.total) {
        std::abort();
    }
    return 0;
}
