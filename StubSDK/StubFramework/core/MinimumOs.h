// The Windows versions a page can ask for as the least it runs on.
#pragma once

#include <cstdint>
#include <string_view>

namespace stubframework::core {

// Whether Windows `major`.`minor` is at least the version named (e.g.
// "Windows 8.1"); an unknown name asks for Windows 7.
bool MeetsMinimumOs(std::uint32_t major, std::uint32_t minor, std::string_view minimumName);

}  // namespace stubframework::core
