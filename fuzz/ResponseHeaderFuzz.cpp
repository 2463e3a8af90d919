// Response header lines come from servers: any sequence of lines is read
// without a crash, one final header at most, with a status of -1 or 100-999.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/posix/http/ResponseReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using stubframework::platform::http::ResponseReader;
    ResponseReader reader;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    int finals = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::size_t length = end == std::string_view::npos ? rest.size() : end + 1;
        finals += reader.Read(rest.substr(0, length)) == ResponseReader::Step::kFinal ? 1 : 0;
        rest.remove_prefix(length);
    }
    const int status = reader.Current().status;
    if (finals > 1 || (status != -1 && (status < 100 || status > 999))) {
        std::abort();
    }
    return 0;
}
