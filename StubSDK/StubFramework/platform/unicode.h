// UTF-8 <-> UTF-16 conversion and the case folding used for names that
// compare without regard to case.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace stubframework::platform {

// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// Length of the text in UTF-16 code units (the unit Windows path limits count).
std::size_t Utf16Length(std::string_view text);
// Upper-cases every character with the full Unicode simple mappings, the way
// Windows compares registry and file names.
std::string FoldCase(std::string_view text);

}  // namespace stubframework::platform
