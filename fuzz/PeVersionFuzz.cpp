// Program images come from the user's disk: any bytes give a version or
// nothing, without a read outside them or a long walk.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "pe/PeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> image(data, size);
    const auto version = stubframework::pe::ReadFileVersion(image);
    if (version && stubframework::pe::FormatFileVersion(*version).size() > 23) {
        std::abort();
    }
    (void)stubframework::pe::ReadDataDirectories(image);
    return 0;
}
