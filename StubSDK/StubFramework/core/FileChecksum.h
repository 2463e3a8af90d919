// The checksum the pages give for a package file: CRC-32 as zlib computes it
// (reflected 0xEDB88320, all ones in, complement out) over the whole file.
#pragma once

#include <cstdint>
#include <string>

namespace stubframework::core {

// False when the file cannot be opened unshared or read to its end.
bool FileCrc32(const std::string& path, std::uint32_t& crc);

}  // namespace stubframework::core
