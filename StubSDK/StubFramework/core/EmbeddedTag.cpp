#include "core/EmbeddedTag.h"

#include <algorithm>
#include <array>
#include <functional>
#include <limits>

#include "pe/PeImage.h"
#include "platform/error.h"
#include "platform/fs.h"

namespace stubframework::core {
namespace {

using Bytes = std::vector<std::uint8_t>;
// Exactly `length` bytes at `offset` of the image; nullopt when they are not all there.
using ReadAt = std::function<std::optional<Bytes>(std::uint64_t offset, std::uint64_t length)>;

constexpr std::array<std::uint8_t, 8> kFooterMagic = {'S', 'T', 'U', 'B', 'C', 'E', 'R', 'T'};
constexpr std::uint64_t kFooterSize = 16;
constexpr std::uint64_t kCertificateHeaderSize = 8;
constexpr std::size_t kSecurityDirectoryIndex = 4;
constexpr std::uint16_t kCertificateRevision = 0x0200;
constexpr std::uint16_t kCertificateTypePkcsSignedData = 0x0002;
constexpr std::array<std::uint8_t, 4> kZipEndRecordSignature = {'P', 'K', 5, 6};
static_assert(kMaxTagTrailer - kMaxTagInTrailer == kCertificateHeaderSize + kFooterSize);

std::uint32_t Le32(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) |
           (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

void PutLe16(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutLe32(Bytes& out, std::uint32_t value) {
    PutLe16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    PutLe16(out, static_cast<std::uint16_t>(value >> 16));
}

struct Table {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

// A PE image's security directory, whose address is a file offset; for any
// other file, the footer at its end.
std::optional<Table> LocateTable(std::uint64_t fileSize, const ReadAt& read) {
    const std::optional<Bytes> first = read(0, std::min<std::uint64_t>(fileSize, 64));
    if (const auto extent = first ? pe::PeHeaderExtent(*first) : std::nullopt) {
        const std::optional<Bytes> headers = read(0, std::min(fileSize, *extent));
        if (const auto directories = headers ? pe::ReadDataDirectories(*headers) : std::nullopt) {
            if (directories->size() <= kSecurityDirectoryIndex) {
                return std::nullopt;
            }
            const pe::DataDirectory security = (*directories)[kSecurityDirectoryIndex];
            if (security.size > fileSize || security.address > fileSize - security.size) {
                return std::nullopt;
            }
            return Table{security.address, security.size};
        }
    }
    if (fileSize < kFooterSize) {
        return std::nullopt;
    }
    const std::optional<Bytes> footer = read(fileSize - kFooterSize, kFooterSize);
    if (!footer || !std::equal(kFooterMagic.begin(), kFooterMagic.end(), footer->begin())) {
        return std::nullopt;
    }
    const Table table{Le32(*footer, 8), Le32(*footer, 12)};
    const std::uint64_t room = fileSize - kFooterSize;  // the table stops short of the footer
    if (table.size > room || table.offset > room - table.size) {
        return std::nullopt;
    }
    return table;
}

std::optional<std::string> ReadTag(std::uint64_t fileSize, const ReadAt& read) {
    const std::optional<Table> table = LocateTable(fileSize, read);
    if (!table || table->size < kCertificateHeaderSize) {
        return std::nullopt;
    }
    const std::optional<Bytes> header = read(table->offset, kCertificateHeaderSize);
    if (!header) {
        return std::nullopt;
    }
    const std::uint32_t entryLength = Le32(*header, 0);
    if (entryLength < kCertificateHeaderSize || entryLength > table->size ||
        table->size - entryLength > kMaxTag) {
        return std::nullopt;
    }
    const std::optional<Bytes> tag = read(table->offset + entryLength, table->size - entryLength);
    if (!tag) {
        return std::nullopt;
    }
    return std::string(tag->begin(), tag->end());
}

}  // namespace

std::optional<std::string> ReadEmbeddedTag(std::span<const std::uint8_t> image) {
    const ReadAt read = [image](std::uint64_t offset,
                                std::uint64_t length) -> std::optional<Bytes> {
        if (offset > image.size() || image.size() - offset < length) {
            return std::nullopt;
        }
        const auto from = image.begin() + static_cast<std::ptrdiff_t>(offset);
        return Bytes(from, from + static_cast<std::ptrdiff_t>(length));
    };
    return ReadTag(image.size(), read);
}

// Through the platform's files: the path is UTF-8 on every system.
std::optional<std::string> ReadEmbeddedTagOfFile(const std::string& path) {
    platform::fs::FileHandle file;
    if (file.Open(path) != platform::kErrorSuccess) {
        return std::nullopt;
    }
    const std::int64_t size = file.Size();
    if (size < 0) {
        return std::nullopt;
    }
    const auto fileSize = static_cast<std::uint64_t>(size);
    const ReadAt read = [&file, fileSize](std::uint64_t offset,
                                          std::uint64_t length) -> std::optional<Bytes> {
        if (offset > fileSize || fileSize - offset < length) {
            return std::nullopt;
        }
        Bytes bytes(static_cast<std::size_t>(length));
        const std::int64_t got =
            file.ReadAt(static_cast<std::int64_t>(offset), bytes.data(), bytes.size());
        if (got != static_cast<std::int64_t>(length)) {
            return std::nullopt;
        }
        return bytes;
    };
    return ReadTag(fileSize, read);
}

std::vector<std::uint8_t> MakeTagTrailer(const std::string& tag, std::uint64_t trailerOffset) {
    const std::uint64_t tableSize = kCertificateHeaderSize + tag.size();
    if (tableSize + kFooterSize > kMaxTagTrailer ||
        trailerOffset > std::numeric_limits<std::uint32_t>::max()) {
        return {};
    }
    Bytes trailer;
    PutLe32(trailer, static_cast<std::uint32_t>(kCertificateHeaderSize));  // no certificate data
    PutLe16(trailer, kCertificateRevision);
    PutLe16(trailer, kCertificateTypePkcsSignedData);
    trailer.insert(trailer.end(), tag.begin(), tag.end());
    trailer.insert(trailer.end(), kFooterMagic.begin(), kFooterMagic.end());
    PutLe32(trailer, static_cast<std::uint32_t>(trailerOffset));
    PutLe32(trailer, static_cast<std::uint32_t>(tableSize));
    // The archive is found by its last end record near the end of the file.
    if (std::search(trailer.begin(), trailer.end(), kZipEndRecordSignature.begin(),
                    kZipEndRecordSignature.end()) != trailer.end()) {
        return {};
    }
    return trailer;
}

}  // namespace stubframework::core
