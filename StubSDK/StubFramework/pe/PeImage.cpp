#include "pe/PeImage.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace stubframework::pe {
namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint64_t kMaxFileRead = 64ull * 1024 * 1024;
// No real image puts its PE header further in; the cap keeps what a file
// reader has to load for the headers small.
constexpr std::uint32_t kMaxPeHeaderOffset = 16u * 1024 * 1024;
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint64_t kSectionEntrySize = 40;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kResourceTypeVersion = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;

constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr std::uint16_t kFixedInfoSize = 52;
constexpr char kVersionKey[] = "VS_VERSION_INFO";
constexpr std::size_t kKeyChars = sizeof kVersionKey;  // with its terminator
constexpr std::size_t kKeyOffset = 6;                  // after wLength, wValueLength, wType
constexpr std::size_t kFixedInfoOffset = (kKeyOffset + 2 * kKeyChars + 3) & ~std::size_t{3};
constexpr std::size_t kMinBlockSize = kFixedInfoOffset + kFixedInfoSize;

// Little-endian fields at an offset; zero when the bytes are not all there,
// so that callers check the extent first and a lapse reads nothing.
std::uint16_t Le16(Bytes bytes, std::uint64_t at) {
    if (at > bytes.size() || bytes.size() - at < 2) {
        return 0;
    }
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t Le32(Bytes bytes, std::uint64_t at) {
    if (at > bytes.size() || bytes.size() - at < 4) {
        return 0;
    }
    return static_cast<std::uint32_t>(Le16(bytes, at)) |
           (static_cast<std::uint32_t>(Le16(bytes, at + 2)) << 16);
}

bool Holds(Bytes bytes, std::uint64_t at, std::uint64_t length) {
    return at <= bytes.size() && bytes.size() - at >= length;
}

void PutLe16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    PutLe16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    PutLe16(out, static_cast<std::uint16_t>(value >> 16));
}

struct Section {
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
};

struct PeHeaders {
    std::vector<DataDirectory> directories;
    std::vector<Section> sections;  // those whose entries lie inside the bytes
};

std::optional<PeHeaders> ParseHeaders(Bytes image) {
    if (!Holds(image, 0, 64) || image[0] != 'M' || image[1] != 'Z') {
        return std::nullopt;
    }
    const std::uint64_t pe = Le32(image, 0x3C);
    if (pe > kMaxPeHeaderOffset || !Holds(image, pe, 4 + kCoffHeaderSize) || image[pe] != 'P' ||
        image[pe + 1] != 'E' || image[pe + 2] != 0 || image[pe + 3] != 0) {
        return std::nullopt;
    }
    const std::uint64_t coff = pe + 4;
    const std::uint16_t sectionCount = Le16(image, coff + 2);
    const std::uint16_t optionalSize = Le16(image, coff + 16);
    const std::uint64_t optional = coff + kCoffHeaderSize;
    if (optionalSize < 2 || !Holds(image, optional, optionalSize)) {
        return std::nullopt;
    }
    std::uint64_t countField = 0;
    std::uint64_t directoriesAt = 0;
    switch (Le16(image, optional)) {
        case 0x10B:
            countField = 92;
            directoriesAt = 96;
            break;
        case 0x20B:
            countField = 108;
            directoriesAt = 112;
            break;
        default:
            return std::nullopt;
    }
    PeHeaders headers;
    if (optionalSize >= directoriesAt) {
        // Only the entries both counted and inside the optional header.
        const std::uint64_t room = (optionalSize - directoriesAt) / 8;
        const std::uint64_t count =
            std::min<std::uint64_t>(Le32(image, optional + countField), room);
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t at = optional + directoriesAt + 8 * i;
            headers.directories.push_back({Le32(image, at), Le32(image, at + 4)});
        }
    }
    const std::uint64_t table = optional + optionalSize;
    for (std::uint64_t i = 0; i < sectionCount; ++i) {
        const std::uint64_t at = table + kSectionEntrySize * i;
        if (!Holds(image, at, kSectionEntrySize)) {
            break;
        }
        headers.sections.push_back({Le32(image, at + 12), Le32(image, at + 8), Le32(image, at + 16),
                                    Le32(image, at + 20)});
    }
    return headers;
}

// The file bytes from `rva` to the end of its section's raw data (cut at the
// end of the file); nullopt when no section holds it on disk.
std::optional<Bytes> MapRva(Bytes image, const std::vector<Section>& sections, std::uint32_t rva) {
    for (const Section& section : sections) {
        const std::uint64_t extent =
            section.virtualSize != 0 ? section.virtualSize : section.rawSize;
        if (rva < section.virtualAddress || rva - std::uint64_t{section.virtualAddress} >= extent) {
            continue;
        }
        const std::uint64_t into = rva - std::uint64_t{section.virtualAddress};
        if (into >= section.rawSize) {
            return std::nullopt;  // in memory only: zeros the file does not carry
        }
        const std::uint64_t offset = section.rawOffset + into;
        if (offset >= image.size()) {
            return std::nullopt;
        }
        const std::uint64_t length =
            std::min<std::uint64_t>(section.rawSize - into, image.size() - offset);
        return image.subspan(offset, length);
    }
    return std::nullopt;
}

struct ResourceEntry {
    std::uint32_t name = 0;
    std::uint32_t offset = 0;
};

// The entries of the resource directory at `at`, in stored order.
std::optional<std::vector<ResourceEntry>> DirectoryEntries(Bytes resources, std::uint64_t at) {
    if (!Holds(resources, at, 16)) {
        return std::nullopt;
    }
    const std::uint64_t count = std::uint64_t{Le16(resources, at + 12)} + Le16(resources, at + 14);
    if (!Holds(resources, at + 16, 8 * count)) {
        return std::nullopt;
    }
    std::vector<ResourceEntry> entries;
    entries.reserve(count);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = at + 16 + 8 * i;
        entries.push_back({Le32(resources, entry), Le32(resources, entry + 4)});
    }
    return entries;
}

// The offset of the subdirectory an entry leads to; nullopt for a leaf.
std::optional<std::uint64_t> Subdirectory(const ResourceEntry& entry) {
    if ((entry.offset & kHighBit) == 0) {
        return std::nullopt;
    }
    return entry.offset & ~kHighBit;
}

// A version block starting at `block[0]`, all of it (wLength) inside `block`.
std::optional<FileVersion> ParseVersionBlock(Bytes block) {
    if (!Holds(block, 0, kMinBlockSize)) {
        return std::nullopt;
    }
    const std::uint16_t length = Le16(block, 0);
    const std::uint16_t valueLength = Le16(block, 2);
    if (length < kMinBlockSize || length > block.size() || valueLength < kFixedInfoSize) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kKeyChars; ++i) {
        if (Le16(block, kKeyOffset + 2 * i) != static_cast<unsigned char>(kVersionKey[i])) {
            return std::nullopt;
        }
    }
    if (Le32(block, kFixedInfoOffset) != kFixedInfoSignature) {
        return std::nullopt;
    }
    const std::uint32_t high = Le32(block, kFixedInfoOffset + 8);
    const std::uint32_t low = Le32(block, kFixedInfoOffset + 12);
    return FileVersion{
        static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high & 0xFFFF),
        static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low & 0xFFFF)};
}

// Resource type 16, its first name, that name's first language: a leaf whose
// data entry holds the version block. The walk is three levels deep and no
// deeper, so a directory that points back at itself cannot loop.
std::optional<FileVersion> VersionFromResources(Bytes image, const PeHeaders& headers) {
    if (headers.directories.size() <= kResourceDirectoryIndex) {
        return std::nullopt;
    }
    const DataDirectory directory = headers.directories[kResourceDirectoryIndex];
    if (directory.address == 0 || directory.size == 0) {
        return std::nullopt;
    }
    const std::optional<Bytes> resources = MapRva(image, headers.sections, directory.address);
    if (!resources) {
        return std::nullopt;
    }
    const auto types = DirectoryEntries(*resources, 0);
    if (!types) {
        return std::nullopt;
    }
    const auto version = std::find_if(types->begin(), types->end(), [](const ResourceEntry& e) {
        return e.name == kResourceTypeVersion;  // an id, not a name (high bit clear)
    });
    if (version == types->end()) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> nameDirectory = Subdirectory(*version);
    const auto names = nameDirectory ? DirectoryEntries(*resources, *nameDirectory) : std::nullopt;
    if (!names || names->empty()) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> languageDirectory = Subdirectory(names->front());
    const auto languages =
        languageDirectory ? DirectoryEntries(*resources, *languageDirectory) : std::nullopt;
    // A language leads to a data entry, not to more directories.
    if (!languages || languages->empty() || Subdirectory(languages->front())) {
        return std::nullopt;
    }
    const std::uint64_t dataEntry = languages->front().offset;
    if (!Holds(*resources, dataEntry, 16)) {
        return std::nullopt;
    }
    const std::uint32_t dataRva = Le32(*resources, dataEntry);
    const std::uint32_t dataSize = Le32(*resources, dataEntry + 4);
    const std::optional<Bytes> data = MapRva(image, headers.sections, dataRva);
    if (!data || data->size() < dataSize) {
        return std::nullopt;
    }
    return ParseVersionBlock(data->first(dataSize));
}

// The first place where the UTF-16LE key starts a well-formed block.
std::optional<FileVersion> VersionFromEmbeddedBlock(Bytes image) {
    std::vector<std::uint8_t> key;
    for (std::size_t i = 0; i + 1 < kKeyChars; ++i) {
        key.push_back(static_cast<std::uint8_t>(kVersionKey[i]));
        key.push_back(0);
    }
    const std::boyer_moore_horspool_searcher searcher(key.begin(), key.end());
    auto from = image.begin();
    for (;;) {
        const auto found = std::search(from, image.end(), searcher);
        if (found == image.end()) {
            return std::nullopt;
        }
        const auto at = static_cast<std::size_t>(found - image.begin());
        if (at >= kKeyOffset) {
            if (auto version = ParseVersionBlock(image.subspan(at - kKeyOffset))) {
                return version;
            }
        }
        from = found + 1;
    }
}

}  // namespace

std::optional<std::vector<DataDirectory>> ReadDataDirectories(Bytes image) {
    std::optional<PeHeaders> headers = ParseHeaders(image);
    if (!headers) {
        return std::nullopt;
    }
    return std::move(headers->directories);
}

std::optional<std::uint64_t> PeHeaderExtent(Bytes first64) {
    if (!Holds(first64, 0, 64) || first64[0] != 'M' || first64[1] != 'Z') {
        return std::nullopt;
    }
    const std::uint32_t pe = Le32(first64, 0x3C);
    if (pe > kMaxPeHeaderOffset) {
        return std::nullopt;
    }
    return std::uint64_t{pe} + 4 + kCoffHeaderSize + 0xFFFF;
}

std::optional<FileVersion> ReadFileVersion(Bytes image) {
    if (const std::optional<PeHeaders> headers = ParseHeaders(image)) {
        return VersionFromResources(image, *headers);
    }
    return VersionFromEmbeddedBlock(image);
}

// C stdio rather than streams: a Windows build would carry the whole of
// the streams' locale machinery for this one read.
std::optional<FileVersion> ReadFileVersionOfFile(const std::string& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> chunk(std::size_t{1024} * 1024);
    while (bytes.size() < kMaxFileRead) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(chunk.size(), kMaxFileRead - bytes.size()));
        const std::size_t got = std::fread(chunk.data(), 1, want, file.get());
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < want) {
            break;
        }
    }
    if (std::ferror(file.get()) != 0) {
        return std::nullopt;
    }
    return ReadFileVersion(bytes);
}

std::string FormatFileVersion(const FileVersion& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.build) + "." + std::to_string(version.revision);
}

std::vector<std::uint8_t> MakeVersionBlock(const FileVersion& version) {
    std::vector<std::uint8_t> block;
    PutLe16(block, static_cast<std::uint16_t>(kMinBlockSize));
    PutLe16(block, kFixedInfoSize);
    PutLe16(block, 0);  // binary value
    for (std::size_t i = 0; i < kKeyChars; ++i) {
        PutLe16(block, static_cast<unsigned char>(kVersionKey[i]));
    }
    block.resize(kFixedInfoOffset, 0);
    const std::uint32_t high = (std::uint32_t{version.major} << 16) | version.minor;
    const std::uint32_t low = (std::uint32_t{version.build} << 16) | version.revision;
    PutLe32(block, kFixedInfoSignature);
    PutLe32(block, 0x00010000);  // structure version 1.0
    PutLe32(block, high);        // file version
    PutLe32(block, low);
    PutLe32(block, high);  // product version
    PutLe32(block, low);
    PutLe32(block, 0x3F);        // flags mask
    PutLe32(block, 0);           // flags
    PutLe32(block, 0x00040004);  // 32-bit Windows NT
    PutLe32(block, 1);           // an application
    PutLe32(block, 0);           // subtype
    PutLe32(block, 0);           // date
    PutLe32(block, 0);
    return block;
}

}  // namespace stubframework::pe
