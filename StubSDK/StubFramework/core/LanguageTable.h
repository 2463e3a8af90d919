// The installer's fixed language table and the Windows language id mapping.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace stubframework::core {

struct Language {
    std::string_view code;  // two letters, as the pages know them ("jp", "tw", ...)
    std::string_view name;  // English name
};

inline constexpr int kLanguageCount = 108;
inline constexpr int kLanguageEnglish = 1;

std::span<const Language> LanguageTable();

// The language number of a Windows language id; 0 ("Other") when the table
// has no row for it.
int LanguageNumberFromId(std::uint16_t languageId);

// The row whose code equals `code` exactly; 0 for anything else.
int LanguageNumberFromCode(std::string_view code);

}  // namespace stubframework::core
