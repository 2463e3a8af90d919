// Reads a ZIP archive in place through positioned reads: locates it by its
// end record (also when it is appended to other data and followed by a
// trailer), checks the central directory, and inflates entries with their
// CRC-32 checked. ZIP64 and encrypted archives are refused.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace stubframework::zip {

// Where the archive's bytes come from: up to `size` bytes at `offset`,
// fewer only at the end or on failure (-1).
using ReadAtFunction =
    std::function<std::int64_t(std::int64_t offset, void* buffer, std::size_t size)>;
// Receives an entry's bytes piece by piece; false stops the extraction.
using WriteFunction = std::function<bool(const std::uint8_t* data, std::size_t size)>;

inline constexpr std::int64_t kEndRecordSize = 22;
inline constexpr std::int64_t kEndRecordWindow = 65535 + kEndRecordSize;  // 65,557

struct ZipEntry {
    std::string name;  // raw bytes as stored
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::uint32_t externalAttributes = 0;
    std::uint16_t madeBy = 0;      // high byte: the system that made the entry (3: Unix)
    std::int64_t localHeader = 0;  // file position, the archive's start offset added
    bool IsFolder() const;
    // An entry made on Unix whose mode lets someone run it.
    bool IsExecutable() const;
};

class ZipReader {
public:
    ZipReader() = default;
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Why the last call failed, for a log line; empty after success.
    const std::string& Error() const { return error_; }

    // Locates the archive in a file of `fileSize` bytes and reads its central
    // directory.
    bool Open(ReadAtFunction read, std::int64_t fileSize);

    const std::vector<ZipEntry>& Entries() const { return entries_; }
    // Index of the entry of that exact name (binary search over the names), or -1.
    std::int64_t Find(const std::string& name) const;
    std::int64_t StartOffset() const { return startOffset_; }
    std::int64_t DirectoryPosition() const { return directoryPosition_; }
    std::uint32_t DirectorySize() const { return directorySize_; }
    // The raw central directory, as read.
    const std::vector<std::uint8_t>& Directory() const { return directory_; }

    // Inflates one entry into `write`, checking its local header, its size
    // and its CRC-32.
    bool Extract(const ZipEntry& entry, const WriteFunction& write);

private:
    bool Fail(std::string why);
    bool LocateEndRecord(std::int64_t& position);
    bool ReadDirectory(std::uint16_t count);
    bool CopyStored(std::int64_t offset, std::int64_t left, const WriteFunction& emit);
    bool Inflate(std::int64_t offset, std::int64_t left, const std::string& name,
                 const WriteFunction& emit);

    ReadAtFunction read_;
    std::int64_t fileSize_ = 0;
    std::int64_t startOffset_ = 0;
    std::int64_t directoryPosition_ = 0;
    std::uint32_t directorySize_ = 0;
    std::vector<std::uint8_t> directory_;
    std::vector<ZipEntry> entries_;
    std::vector<std::size_t> byName_;
    std::string error_;
    z_stream stream_{};
    bool inflating_ = false;
    std::vector<std::uint8_t> input_;
    std::vector<std::uint8_t> output_;
};

// Little-endian fields of the format.
inline std::uint16_t ReadLe16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}
inline std::uint32_t ReadLe32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

inline constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;
inline constexpr std::uint32_t kDirectorySignature = 0x02014B50;
inline constexpr std::uint32_t kEndRecordSignature = 0x06054B50;
inline constexpr std::uint32_t kZip64EndLocatorSignature = 0x07064B50;
inline constexpr std::int64_t kLocalHeaderSize = 30;
inline constexpr std::int64_t kDirectoryEntrySize = 46;

}  // namespace stubframework::zip
