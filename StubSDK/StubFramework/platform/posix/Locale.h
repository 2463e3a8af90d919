// How a POSIX locale name maps to the Windows language and nation numbers.
#pragma once

#include <cstdint>
#include <string_view>

namespace stubframework::platform::posix {

// "de_CH.UTF-8" -> 2055 (German, Switzerland). "C", "POSIX" and unknown
// languages give 1033 (English, United States), Windows' own default.
std::uint16_t LanguageIdFromLocale(std::string_view locale);

// The territory of "de_CH.UTF-8" as a Windows geographic id (223);
// -1 when the locale names no territory or an unknown one.
std::int32_t GeoIdFromLocale(std::string_view locale);

}  // namespace stubframework::platform::posix
