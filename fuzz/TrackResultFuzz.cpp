// The tracker page's answers come from a page on the loopback: any body is
// refused or read whole, and an answer read is either a success or a failure.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/posix/host/LoopbackTrackerView.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using stubframework::platform::trackerview::CallResult;
    std::uint64_t id = 0;
    CallResult result;
    result.outcome = CallResult::Outcome::NoDocument;
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    if (stubframework::platform::posix::ReadTrackResult(body, id, result) &&
        result.outcome == CallResult::Outcome::NoDocument) {
        std::abort();
    }
    return 0;
}
