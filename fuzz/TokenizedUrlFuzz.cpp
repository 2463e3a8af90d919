// Token replies come from the web service: any reply gives an empty value or
// the quoted text after the key, never a quotation mark.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "telemetry/WebServiceClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const std::string value = stubframework::core::ExtractTokenizedUrl(reply);
    if (value.find('"') != std::string::npos) {
        std::abort();
    }
    if (!value.empty() && (reply.find("\"tokenizedUrl\":") == std::string_view::npos ||
                           reply.find("\"" + value + "\"") == std::string_view::npos)) {
        std::abort();
    }
    return 0;
}
