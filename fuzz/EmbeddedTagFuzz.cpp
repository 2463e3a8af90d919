// The tag is read from whatever image the stub runs as: any bytes give a tag
// taken from inside them, or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/EmbeddedTag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto tag =
        stubframework::core::ReadEmbeddedTag(std::span<const std::uint8_t>(data, size));
    if (tag && (tag->size() > stubframework::core::kMaxTag || tag->size() > size)) {
        std::abort();
    }
    return 0;
}
