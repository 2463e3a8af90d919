// Small PE32 and PE32+ images made at test time, shaped like a linker's:
// DOS header, PE header, optional header with 16 data directories, a .text
// and a .rsrc section whose file offset differs from its address, a resource
// tree and, when asked, a certificate table at the end of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pe/PeImage.h"

namespace stubtest {

struct PeOptions {
    bool pe32Plus = false;
    bool resources = true;        // a resource directory at all
    bool versionResource = true;  // type 16 among the resources (beside an icon)
    stubframework::pe::FileVersion version{1, 2, 3, 4};
    // Appended at the end of the file and named by the security directory.
    std::optional<std::vector<std::uint8_t>> certificateTable;
};

// The image and the file offsets of the fields tests damage.
struct BuiltPe {
    std::vector<std::uint8_t> bytes;
    std::size_t sectionCountField = 0;       // COFF NumberOfSections
    std::size_t directoryCountField = 0;     // NumberOfRvaAndSizes
    std::size_t resourceDirectoryField = 0;  // data directory 2: address, size
    std::size_t securityDirectoryField = 0;  // data directory 4: file offset, size
    std::size_t resourceSection = 0;         // where the resource directory starts
    std::size_t versionTypeEntry = 0;        // the root's entry for type 16
    std::size_t versionDataEntry = 0;        // the data entry of the version resource
    std::size_t versionBlock = 0;            // VS_VERSIONINFO
    std::size_t certificateTable = 0;
};

BuiltPe BuildPe(const PeOptions& options = {});

// A certificate table: one WIN_CERTIFICATE of `certificateBytes` bytes of
// data (its length counts its 8-byte header), then `tag`.
std::vector<std::uint8_t> CertificateTable(std::size_t certificateBytes, const std::string& tag);

void PutLe16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value);
void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value);

}  // namespace stubtest
