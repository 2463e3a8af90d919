#include "core/FileChecksum.h"

#include <zlib.h>

#include <vector>

#include "platform/error.h"
#include "platform/fs.h"

namespace stubframework::core {

bool FileCrc32(const std::string& path, std::uint32_t& crc) {
    constexpr std::size_t kBlock = std::size_t{1} << 20;
    platform::fs::FileHandle file;
    if (file.OpenUnshared(path) != platform::kErrorSuccess) {
        return false;
    }
    std::vector<std::uint8_t> block(kBlock);
    uLong value = crc32(0L, Z_NULL, 0);
    for (;;) {
        const std::int64_t got = file.Read(block.data(), block.size());
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        value = crc32(value, block.data(), static_cast<uInt>(got));
    }
    crc = static_cast<std::uint32_t>(value);
    return true;
}

}  // namespace stubframework::core
