// What the stub reads from a program image's own bytes: the file version of
// its version resource, and the headers that lead there. Plain byte parsing
// with no system underneath, so every layer may use it (the Linux file
// services read versions through it). Every offset and size read from the
// image is checked against its length.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace stubframework::pe {

struct FileVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;
    bool operator==(const FileVersion&) const = default;
};

// The fixed file version of a program image's version resource: PE32 and PE32+
// images through their resource directory; any other file (our Linux programs)
// through a version block embedded anywhere in it. nullopt when there is none.
std::optional<FileVersion> ReadFileVersion(std::span<const std::uint8_t> image);
// The same for a file, of which at most the first 64 MiB are read.
std::optional<FileVersion> ReadFileVersionOfFile(const std::string& path);
// "major.minor.build.revision" in decimal.
std::string FormatFileVersion(const FileVersion& version);

// The bytes of a version block carrying `version`, as a program embeds it.
std::vector<std::uint8_t> MakeVersionBlock(const FileVersion& version);

// One entry of a PE optional header's data directory, as stored.
struct DataDirectory {
    std::uint32_t address = 0;
    std::uint32_t size = 0;
};

// The data directory of a PE32 or PE32+ image: the entries its optional
// header holds (possibly fewer than 16). nullopt when the bytes do not start
// with a PE header ("MZ", "PE\0\0", a known optional header inside the bytes).
std::optional<std::vector<DataDirectory>> ReadDataDirectories(std::span<const std::uint8_t> image);

// How many leading bytes of a file ReadDataDirectories needs, once the first
// 64 are known (they give where the PE header is); nullopt when they do not
// start a PE image.
std::optional<std::uint64_t> PeHeaderExtent(std::span<const std::uint8_t> first64);

}  // namespace stubframework::pe
