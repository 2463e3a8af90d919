#include "zip/ZipReader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace stubframework::zip {
namespace {

constexpr std::size_t kSearchBlock = 4096;
constexpr std::size_t kChunk = 65536;
constexpr std::uint16_t kEncrypted = 0x0001;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint32_t kDosDirectory = 0x10;

}  // namespace

bool ZipEntry::IsFolder() const {
    return (!name.empty() && name.back() == '/') || (externalAttributes & kDosDirectory) != 0;
}

bool ZipEntry::IsExecutable() const {
    constexpr std::uint16_t kUnix = 3;
    return (madeBy >> 8) == kUnix && ((externalAttributes >> 16) & 0111) != 0;
}

bool ZipReader::Fail(std::string why) {
    error_ = std::move(why);
    return false;
}

bool ZipReader::Open(ReadAtFunction read, std::int64_t fileSize) {
    read_ = std::move(read);
    fileSize_ = fileSize;
    entries_.clear();
    byName_.clear();
    directory_.clear();
    error_.clear();
    std::int64_t position = 0;
    if (!LocateEndRecord(position)) {
        return false;
    }
    std::array<std::uint8_t, kEndRecordSize> record{};
    if (read_(position, record.data(), record.size()) != kEndRecordSize ||
        ReadLe32(record.data()) != kEndRecordSignature) {
        return Fail("the end record cannot be read");
    }
    const std::uint16_t disk = ReadLe16(&record[4]);
    const std::uint16_t directoryDisk = ReadLe16(&record[6]);
    const std::uint16_t entriesHere = ReadLe16(&record[8]);
    const std::uint16_t entriesTotal = ReadLe16(&record[10]);
    directorySize_ = ReadLe32(&record[12]);
    const std::uint32_t directoryOffset = ReadLe32(&record[16]);
    if (entriesTotal == 0xFFFF || directorySize_ == 0xFFFFFFFFu || directoryOffset == 0xFFFFFFFFu) {
        return Fail("ZIP64 archives are not supported");
    }
    if (position >= 20) {
        std::array<std::uint8_t, 4> locator{};
        if (read_(position - 20, locator.data(), 4) == 4 &&
            ReadLe32(locator.data()) == kZip64EndLocatorSignature) {
            return Fail("ZIP64 archives are not supported");
        }
    }
    if (entriesHere != entriesTotal || disk != directoryDisk || disk > 1) {
        return Fail("multi-disk archives are not supported");
    }
    if (static_cast<std::uint64_t>(directorySize_) <
            static_cast<std::uint64_t>(entriesTotal) * kDirectoryEntrySize ||
        static_cast<std::int64_t>(directoryOffset) + directorySize_ > fileSize_) {
        return Fail("the end record does not describe a directory");
    }
    // The directory ends where the end record begins; the archive starts
    // where the recorded offset, counted back from there, says.
    directoryPosition_ = position - directorySize_;
    startOffset_ = directoryPosition_ - directoryOffset;
    if (directoryPosition_ < 0 || startOffset_ < 0) {
        return Fail("the end record does not describe a directory");
    }
    return ReadDirectory(entriesTotal);
}

bool ZipReader::LocateEndRecord(std::int64_t& position) {
    if (fileSize_ < kEndRecordSize) {
        return Fail("too short for an archive");
    }
    std::array<std::uint8_t, kSearchBlock> block{};
    std::int64_t start =
        std::max<std::int64_t>(fileSize_ - static_cast<std::int64_t>(kSearchBlock), 0);
    for (;;) {
        const auto length =
            static_cast<std::size_t>(std::min<std::int64_t>(kSearchBlock, fileSize_ - start));
        if (read_(start, block.data(), length) != static_cast<std::int64_t>(length)) {
            return Fail("the file cannot be read");
        }
        // From the block's end towards its start; a record needs its 22 bytes
        // and must begin within the last 65,557 bytes.
        for (std::int64_t i = static_cast<std::int64_t>(length) - 4; i >= 0; --i) {
            const std::int64_t fromEnd = fileSize_ - (start + i);
            if (ReadLe32(&block[static_cast<std::size_t>(i)]) == kEndRecordSignature &&
                fromEnd >= kEndRecordSize && fromEnd <= kEndRecordWindow) {
                position = start + i;
                return true;
            }
        }
        if (start == 0 || fileSize_ - start >= kEndRecordWindow) {
            return Fail("no end record near the end of the file");
        }
        // Three bytes of overlap catch a signature across the boundary.
        start = std::max<std::int64_t>(start - static_cast<std::int64_t>(kSearchBlock - 3), 0);
    }
}

bool ZipReader::ReadDirectory(std::uint16_t count) {
    directory_.resize(directorySize_);
    if (!directory_.empty() && read_(directoryPosition_, directory_.data(), directory_.size()) !=
                                   static_cast<std::int64_t>(directory_.size())) {
        return Fail("the central directory cannot be read");
    }
    std::size_t at = 0;
    entries_.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i) {
        if (at + kDirectoryEntrySize > directory_.size()) {
            return Fail("the central directory is cut short");
        }
        const std::uint8_t* record = &directory_[at];
        if (ReadLe32(record) != kDirectorySignature) {
            return Fail("a central directory entry has no signature");
        }
        const std::size_t nameLength = ReadLe16(record + 28);
        const std::size_t extraLength = ReadLe16(record + 30);
        const std::size_t commentLength = ReadLe16(record + 32);
        const std::size_t total = kDirectoryEntrySize + nameLength + extraLength + commentLength;
        if (at + total > directory_.size()) {
            return Fail("a central directory entry runs past the directory");
        }
        ZipEntry entry;
        entry.madeBy = ReadLe16(record + 4);
        entry.flags = ReadLe16(record + 8);
        entry.method = ReadLe16(record + 10);
        entry.crc = ReadLe32(record + 16);
        entry.compressedSize = ReadLe32(record + 20);
        entry.size = ReadLe32(record + 24);
        entry.externalAttributes = ReadLe32(record + 38);
        const std::uint32_t localOffset = ReadLe32(record + 42);
        entry.name.assign(reinterpret_cast<const char*>(record + kDirectoryEntrySize), nameLength);
        if (entry.compressedSize == 0xFFFFFFFFu || entry.size == 0xFFFFFFFFu ||
            localOffset == 0xFFFFFFFFu) {
            return Fail("ZIP64 entries are not supported: " + entry.name);
        }
        if (ReadLe16(record + 34) != 0 && ReadLe16(record + 34) != 0xFFFF) {
            return Fail("an entry lies on another disk: " + entry.name);
        }
        if (entry.method == kStored && entry.compressedSize != entry.size) {
            return Fail("a stored entry with two sizes: " + entry.name);
        }
        entry.localHeader = startOffset_ + localOffset;
        if (entry.localHeader + kLocalHeaderSize > directoryPosition_) {
            return Fail("an entry's local header lies outside the archive: " + entry.name);
        }
        entries_.push_back(std::move(entry));
        at += total;
    }
    byName_.resize(entries_.size());
    for (std::size_t i = 0; i < byName_.size(); ++i) {
        byName_[i] = i;
    }
    std::sort(byName_.begin(), byName_.end(),
              [this](std::size_t a, std::size_t b) { return entries_[a].name < entries_[b].name; });
    return true;
}

ZipReader::~ZipReader() {
    if (inflating_) {
        inflateEnd(&stream_);
    }
}

bool ZipReader::CopyStored(std::int64_t offset, std::int64_t left, const WriteFunction& emit) {
    input_.resize(kChunk);
    while (left > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, kChunk));
        if (read_(offset, input_.data(), want) != static_cast<std::int64_t>(want)) {
            return Fail("an entry's data cannot be read");
        }
        if (!emit(input_.data(), want)) {
            return false;
        }
        offset += static_cast<std::int64_t>(want);
        left -= static_cast<std::int64_t>(want);
    }
    return true;
}

bool ZipReader::Inflate(std::int64_t offset, std::int64_t left, const std::string& name,
                        const WriteFunction& emit) {
    // One inflater and one pair of buffers serve every entry: page packages
    // hold thousands of small files.
    if (!inflating_) {
        inflating_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
    } else if (inflateReset(&stream_) != Z_OK) {
        return Fail("out of memory");
    }
    if (!inflating_) {
        return Fail("out of memory");
    }
    input_.resize(kChunk);
    output_.resize(kChunk);
    z_stream& stream = stream_;
    stream.avail_in = 0;
    // Output may still be waiting in the inflater after the last input went
    // in; only when a pass left room in the output does it need more input.
    bool outputFull = false;
    for (;;) {
        if (stream.avail_in == 0 && !outputFull) {
            if (left == 0) {
                return Fail("an entry's compressed data ends early: " + name);
            }
            const auto want = static_cast<std::size_t>(std::min<std::int64_t>(left, kChunk));
            if (read_(offset, input_.data(), want) != static_cast<std::int64_t>(want)) {
                return Fail("an entry's data cannot be read: " + name);
            }
            offset += static_cast<std::int64_t>(want);
            left -= static_cast<std::int64_t>(want);
            stream.next_in = input_.data();
            stream.avail_in = static_cast<uInt>(want);
        }
        stream.next_out = output_.data();
        stream.avail_out = static_cast<uInt>(kChunk);
        const int status = inflate(&stream, Z_NO_FLUSH);
        if (status == Z_BUF_ERROR && left == 0 && stream.avail_in == 0) {
            return Fail("an entry's compressed data ends early: " + name);
        }
        if (status != Z_OK && status != Z_STREAM_END) {
            return Fail("an entry's data is corrupt: " + name);
        }
        outputFull = stream.avail_out == 0;
        if (!emit(output_.data(), kChunk - stream.avail_out)) {
            return false;
        }
        if (status == Z_STREAM_END) {
            return true;
        }
    }
}

std::int64_t ZipReader::Find(const std::string& name) const {
    const auto at = std::lower_bound(byName_.begin(), byName_.end(), name,
                                     [this](std::size_t index, const std::string& wanted) {
                                         return entries_[index].name < wanted;
                                     });
    return at != byName_.end() && entries_[*at].name == name ? static_cast<std::int64_t>(*at) : -1;
}

bool ZipReader::Extract(const ZipEntry& entry, const WriteFunction& write) {
    error_.clear();
    if ((entry.flags & kEncrypted) != 0) {
        return Fail("encrypted entries are not supported: " + entry.name);
    }
    if (entry.method != kStored && entry.method != kDeflated) {
        return Fail("compression method " + std::to_string(entry.method) +
                    " is not supported: " + entry.name);
    }
    std::array<std::uint8_t, kLocalHeaderSize> header{};
    if (read_(entry.localHeader, header.data(), header.size()) != kLocalHeaderSize ||
        ReadLe32(header.data()) != kLocalHeaderSignature) {
        return Fail("an entry has no local header: " + entry.name);
    }
    const std::size_t nameLength = ReadLe16(&header[26]);
    const std::size_t extraLength = ReadLe16(&header[28]);
    std::string localName(nameLength, '\0');
    if (ReadLe16(&header[8]) != entry.method || nameLength != entry.name.size() ||
        read_(entry.localHeader + kLocalHeaderSize, localName.data(), nameLength) !=
            static_cast<std::int64_t>(nameLength) ||
        localName != entry.name) {
        return Fail("an entry's local header does not match the directory: " + entry.name);
    }
    const std::int64_t dataStart =
        entry.localHeader + kLocalHeaderSize + static_cast<std::int64_t>(nameLength + extraLength);
    if (dataStart + entry.compressedSize > directoryPosition_) {
        return Fail("an entry's data runs into the directory: " + entry.name);
    }
    std::uint32_t crc = crc32(0, nullptr, 0);
    std::uint64_t produced = 0;
    // Every piece is counted and checked before it is handed on.
    const auto emit = [&](const std::uint8_t* data, std::size_t size) {
        produced += size;
        if (produced > entry.size) {
            return Fail("an entry is longer than recorded: " + entry.name);
        }
        crc = crc32(crc, data, static_cast<uInt>(size));
        return size == 0 || write(data, size) || Fail({});
    };
    const bool copied = entry.method == kStored
                            ? CopyStored(dataStart, entry.compressedSize, emit)
                            : Inflate(dataStart, entry.compressedSize, entry.name, emit);
    if (!copied) {
        return false;
    }
    if (produced != entry.size) {
        return Fail("an entry is shorter than recorded: " + entry.name);
    }
    if (crc != entry.crc) {
        return Fail("an entry's CRC-32 does not match: " + entry.name);
    }
    return true;
}

}  // namespace stubframework::zip
