// Archives come from release servers and from the executable's own tail:
// any bytes are located and read, or refused, without a crash; every entry
// read lies inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "zip/ZipReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fileSize = static_cast<std::int64_t>(size);
    const auto read = [&](std::int64_t offset, void* buffer, std::size_t length) -> std::int64_t {
        if (offset < 0 || offset > fileSize) {
            std::abort();  // the reader must never ask outside the file
        }
        const auto available = static_cast<std::size_t>(fileSize - offset);
        const std::size_t copied = length < available ? length : available;
        if (copied != 0) {
            std::memcpy(buffer, data + offset, copied);
        }
        return static_cast<std::int64_t>(copied);
    };
    stubframework::zip::ZipReader reader;
    if (!reader.Open(read, fileSize)) {
        return 0;
    }
    for (const auto& entry : reader.Entries()) {
        if (entry.localHeader < 0 || entry.localHeader + 30 > fileSize) {
            std::abort();
        }
        std::uint64_t produced = 0;
        reader.Extract(entry, [&](const std::uint8_t*, std::size_t length) {
            produced += length;
            return true;
        });
        if (produced > entry.size) {
            std::abort();
        }
    }
    return 0;
}
