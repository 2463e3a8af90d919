#include "support/PeBuilder.h"

namespace stubtest {
namespace {

constexpr std::size_t kPeHeader = 0x80;
constexpr std::size_t kHeadersSize = 0x400;
constexpr std::size_t kFileAlignment = 0x200;
constexpr std::uint32_t kTextAddress = 0x1000;
constexpr std::size_t kTextOffset = 0x400;
constexpr std::uint32_t kResourceAddress = 0x2000;
constexpr std::size_t kResourceOffset = 0x600;
constexpr std::uint32_t kSubdirectory = 0x80000000u;

std::size_t Align(std::size_t value, std::size_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

void Append16(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
    bytes.resize(bytes.size() + 2);
    PutLe16(bytes, bytes.size() - 2, value);
}

void AppendKey(std::vector<std::uint8_t>& bytes, const std::string& key) {
    for (const char c : key) {
        Append16(bytes, static_cast<std::uint8_t>(c));
    }
    Append16(bytes, 0);
    bytes.resize(Align(bytes.size(), 4), 0);
}

// The version resource as a resource compiler writes it: the fixed info, then
// a VarFileInfo child with the translation (en-US, Unicode).
std::vector<std::uint8_t> VersionResource(const stubframework::pe::FileVersion& version) {
    std::vector<std::uint8_t> block = stubframework::pe::MakeVersionBlock(version);
    std::vector<std::uint8_t> var;
    Append16(var, 0);  // length, set below
    Append16(var, 4);
    Append16(var, 0);
    AppendKey(var, "Translation");
    Append16(var, 0x0409);
    Append16(var, 1200);
    PutLe16(var, 0, static_cast<std::uint16_t>(var.size()));
    std::vector<std::uint8_t> info;
    Append16(info, 0);
    Append16(info, 0);
    Append16(info, 1);  // text
    AppendKey(info, "VarFileInfo");
    info.insert(info.end(), var.begin(), var.end());
    PutLe16(info, 0, static_cast<std::uint16_t>(info.size()));
    block.insert(block.end(), info.begin(), info.end());
    PutLe16(block, 0, static_cast<std::uint16_t>(block.size()));
    return block;
}

struct ResourceSection {
    std::vector<std::uint8_t> bytes;
    std::size_t versionTypeEntry = 0;
    std::size_t versionDataEntry = 0;
    std::size_t versionBlock = 0;
};

// A directory with one id entry (or the root with several): 16 bytes of
// header, 8 per entry. Returns where its entries start.
std::size_t AppendDirectory(std::vector<std::uint8_t>& r, std::uint16_t idEntries) {
    const std::size_t at = r.size();
    r.resize(at + 16 + 8 * std::size_t{idEntries}, 0);
    PutLe16(r, at + 14, idEntries);
    return at + 16;
}

// type -> id 1 -> language 1033 -> data entry -> `data`, laid out after the root.
void AppendType(ResourceSection& section, std::size_t rootEntry, std::uint32_t type,
                const std::vector<std::uint8_t>& data, std::size_t* dataEntry,
                std::size_t* dataAt) {
    std::vector<std::uint8_t>& r = section.bytes;
    PutLe32(r, rootEntry, type);
    PutLe32(r, rootEntry + 4, static_cast<std::uint32_t>(r.size()) | kSubdirectory);
    const std::size_t nameEntry = AppendDirectory(r, 1);
    PutLe32(r, nameEntry, 1);
    PutLe32(r, nameEntry + 4, static_cast<std::uint32_t>(r.size()) | kSubdirectory);
    const std::size_t languageEntry = AppendDirectory(r, 1);
    PutLe32(r, languageEntry, 1033);
    PutLe32(r, languageEntry + 4, static_cast<std::uint32_t>(r.size()));
    const std::size_t entry = r.size();
    r.resize(entry + 16, 0);
    const std::size_t at = entry + 16;
    PutLe32(r, entry, kResourceAddress + static_cast<std::uint32_t>(at));
    PutLe32(r, entry + 4, static_cast<std::uint32_t>(data.size()));
    PutLe32(r, entry + 8, 1252);
    r.insert(r.end(), data.begin(), data.end());
    r.resize(Align(r.size(), 4), 0);
    if (dataEntry != nullptr) {
        *dataEntry = entry;
        *dataAt = at;
    }
}

ResourceSection Resources(const PeOptions& options) {
    ResourceSection section;
    const std::size_t root = AppendDirectory(section.bytes, options.versionResource ? 2 : 1);
    const std::vector<std::uint8_t> icon(40, 0x11);
    AppendType(section, root, 3, icon, nullptr, nullptr);
    if (options.versionResource) {
        section.versionTypeEntry = root + 8;
        AppendType(section, root + 8, 16, VersionResource(options.version),
                   &section.versionDataEntry, &section.versionBlock);
    }
    return section;
}

void PutSection(std::vector<std::uint8_t>& image, std::size_t at, const char* name,
                std::uint32_t address, std::size_t virtualSize, std::size_t offset,
                std::uint32_t characteristics) {
    for (std::size_t i = 0; i < 8 && name[i] != '\0'; ++i) {
        image[at + i] = static_cast<std::uint8_t>(name[i]);
    }
    PutLe32(image, at + 8, static_cast<std::uint32_t>(virtualSize));
    PutLe32(image, at + 12, address);
    PutLe32(image, at + 16, static_cast<std::uint32_t>(Align(virtualSize, kFileAlignment)));
    PutLe32(image, at + 20, static_cast<std::uint32_t>(offset));
    PutLe32(image, at + 36, characteristics);
}

}  // namespace

void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes.at(at) = static_cast<std::uint8_t>(value & 0xFF);
    bytes.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    PutLe16(bytes, at, static_cast<std::uint16_t>(value & 0xFFFF));
    PutLe16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

BuiltPe BuildPe(const PeOptions& options) {
    BuiltPe pe;
    std::vector<std::uint8_t>& image = pe.bytes;
    image.assign(kHeadersSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    PutLe32(image, 0x3C, kPeHeader);
    image[kPeHeader] = 'P';
    image[kPeHeader + 1] = 'E';

    const std::size_t coff = kPeHeader + 4;
    const std::uint16_t optionalSize = options.pe32Plus ? 240 : 224;
    const std::uint16_t sectionCount = options.resources ? 2 : 1;
    PutLe16(image, coff, options.pe32Plus ? 0x8664 : 0x014C);
    PutLe16(image, coff + 2, sectionCount);
    PutLe16(image, coff + 16, optionalSize);
    PutLe16(image, coff + 18, options.pe32Plus ? 0x0022 : 0x0102);
    pe.sectionCountField = coff + 2;

    const std::size_t optional = coff + 20;
    const std::size_t directories = optional + (options.pe32Plus ? 112 : 96);
    PutLe16(image, optional, options.pe32Plus ? 0x20B : 0x10B);
    PutLe32(image, optional + 16, kTextAddress);  // entry point
    PutLe32(image, optional + 32, 0x1000);        // section alignment
    PutLe32(image, optional + 36, kFileAlignment);
    PutLe32(image, optional + 60, static_cast<std::uint32_t>(kHeadersSize));
    PutLe16(image, optional + 68, 2);  // GUI subsystem
    pe.directoryCountField = directories - 4;
    PutLe32(image, pe.directoryCountField, 16);
    pe.resourceDirectoryField = directories + std::size_t{8} * 2;
    pe.securityDirectoryField = directories + std::size_t{8} * 4;

    const std::size_t table = optional + optionalSize;
    PutSection(image, table, ".text", kTextAddress, 0x180, kTextOffset, 0x60000020);
    image.resize(kTextOffset + kFileAlignment, 0xCC);
    std::uint32_t imageSize = kResourceAddress;
    if (options.resources) {
        const ResourceSection resources = Resources(options);
        PutSection(image, table + 40, ".rsrc", kResourceAddress, resources.bytes.size(),
                   kResourceOffset, 0x40000040);
        PutLe32(image, pe.resourceDirectoryField, kResourceAddress);
        PutLe32(image, pe.resourceDirectoryField + 4,
                static_cast<std::uint32_t>(resources.bytes.size()));
        pe.resourceSection = kResourceOffset;
        if (options.versionResource) {
            pe.versionTypeEntry = kResourceOffset + resources.versionTypeEntry;
            pe.versionDataEntry = kResourceOffset + resources.versionDataEntry;
            pe.versionBlock = kResourceOffset + resources.versionBlock;
        }
        image.insert(image.end(), resources.bytes.begin(), resources.bytes.end());
        image.resize(Align(image.size(), kFileAlignment), 0);
        imageSize += static_cast<std::uint32_t>(Align(resources.bytes.size(), 0x1000));
    }
    PutLe32(image, optional + 56, imageSize);

    if (options.certificateTable) {
        image.resize(Align(image.size(), 8), 0);
        pe.certificateTable = image.size();
        PutLe32(image, pe.securityDirectoryField, static_cast<std::uint32_t>(image.size()));
        PutLe32(image, pe.securityDirectoryField + 4,
                static_cast<std::uint32_t>(options.certificateTable->size()));
        image.insert(image.end(), options.certificateTable->begin(),
                     options.certificateTable->end());
    }
    return pe;
}

std::vector<std::uint8_t> CertificateTable(std::size_t certificateBytes, const std::string& tag) {
    std::vector<std::uint8_t> table(8, 0);
    PutLe32(table, 0, static_cast<std::uint32_t>(8 + certificateBytes));
    PutLe16(table, 4, 0x0200);
    PutLe16(table, 6, 0x0002);
    for (std::size_t i = 0; i < certificateBytes; ++i) {
        table.push_back(static_cast<std::uint8_t>(0x30 + i % 7));
    }
    table.insert(table.end(), tag.begin(), tag.end());
    return table;
}

}  // namespace stubtest
