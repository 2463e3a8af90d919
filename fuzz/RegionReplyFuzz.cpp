// Region replies come from the web service: any reply gives an empty value or
// the text that stands between the element's own tags.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "telemetry/RegionCheck.h"

namespace {

void CheckElement(std::string_view reply, std::string_view name, const std::string& value) {
    if (value.empty()) {
        return;
    }
    const std::string element =
        "<" + std::string(name) + ">" + value + "</" + std::string(name) + ">";
    if (reply.find(element) == std::string_view::npos ||
        value.find("</" + std::string(name) + ">") != std::string::npos) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const stubframework::core::RegionAnswer answer = stubframework::core::ReadRegionReply(reply);
    CheckElement(reply, "country", answer.country);
    CheckElement(reply, "isEmbargo", answer.embargo);
    return 0;
}
