// The per-download tag an executable carries behind the first entry of its
// certificate table, where it can differ from copy to copy without touching
// the signature.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace stubframework::core {

// The tag stored after the first entry of an image's certificate table: a PE
// image's security directory, or on our Linux image the certificate-shaped
// trailer `stub-pack --tag` writes. The tag's bytes as stored (UTF-8); nullopt
// when there is none or the image is damaged.
std::optional<std::string> ReadEmbeddedTag(std::span<const std::uint8_t> image);
// The same for a file, reading only its headers and the table.
std::optional<std::string> ReadEmbeddedTagOfFile(const std::string& path);

constexpr std::size_t kMaxTagTrailer = 65000;  // the archive's end record must stay findable
// The longest tag a trailer carries: its certificate header and footer take 24 bytes.
constexpr std::size_t kMaxTagInTrailer = kMaxTagTrailer - 24;
// Longer tags are taken for damage.
constexpr std::size_t kMaxTag = 100000;

// What stub-pack appends after the page archive to carry `tag` (with its
// footer), for a trailer that starts at file offset `trailerOffset`. Empty
// when the trailer would pass kMaxTagTrailer bytes, when the offset does not
// fit the footer, or when its bytes would hold the archive's end-record
// signature (the archive's locator would take them for its end).
std::vector<std::uint8_t> MakeTagTrailer(const std::string& tag, std::uint64_t trailerOffset);

}  // namespace stubframework::core
