// The meta file beside every package: its size and the SHA-1 of each 1 MiB
// block. Little-endian, no header: 8 bytes of size, then 20 bytes a block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "downloader/TaskModel.h"

namespace downloader {

inline constexpr std::int64_t kBlockSize = 1048576;
inline constexpr std::int64_t kMaxBlocks = 67108864;  // 2^26

struct DownloadMetaSimple {
    std::int64_t fileSize = 0;
    std::vector<BlockHash> blocks;
};

// Blocks of a file of `size` bytes (without overflowing near the largest sizes).
constexpr std::int64_t BlockCount(std::int64_t size) {
    return size / kBlockSize + (size % kBlockSize != 0 ? 1 : 0);
}

// Parses a meta file held in memory. False for a short file, a negative
// size, too many blocks, or a length that does not match the block count.
bool CreateDownloadMetaSimple(const std::uint8_t* bytes, std::size_t length,
                              DownloadMetaSimple& meta);

// Writes the meta file of a package, reading it once in blocks (constant
// memory). kSuccess or the failure.
Result WriteMetaFile(const std::string& packagePath, const std::string& metaPath);

// True when the file at `path` is exactly the package the meta file
// describes: every block matches and none is missing or extra.
bool VerifyFileWithMeta(const std::string& path, const std::uint8_t* meta, std::size_t length);

}  // namespace downloader
