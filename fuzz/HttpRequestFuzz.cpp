// Request bytes come from any local process: fed in any split, the reader
// ends with a head, a refusal with a status, or a wish for more, never
// beyond its limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/posix/host/HttpRequestReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using stubframework::platform::posix::HttpRequestReader;
    constexpr std::size_t kCap = 4096;
    if (size == 0) {
        return 0;
    }
    // The first byte picks the size of the pieces the rest arrives in.
    const std::size_t piece = 1 + data[0] % 64;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    HttpRequestReader reader(kCap);
    HttpRequestReader::State state = HttpRequestReader::State::kNeedMore;
    while (!rest.empty() && state == HttpRequestReader::State::kNeedMore) {
        const std::size_t length = rest.size() < piece ? rest.size() : piece;
        state = reader.Feed(rest.substr(0, length));
        rest.remove_prefix(length);
    }
    const int status = reader.RefusalStatus();
    const auto& request = reader.Request();
    const bool refused = state == HttpRequestReader::State::kRefused;
    if (refused != (status != 0) || (refused && (status < 400 || status > 599)) ||
        (state == HttpRequestReader::State::kHeadDone &&
         (request.contentLength > kCap || request.target.empty() || request.target[0] != '/' ||
          request.headers.size() > HttpRequestReader::kMaxHeaders))) {
        std::abort();
    }
    return 0;
}
