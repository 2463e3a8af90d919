// Text values under registry paths such as "HKEY_CURRENT_USER\SOFTWARE\...".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace stubframework::core {

// Looks in the 64-bit view first, then the 32-bit view. Data of more than
// `maxBytes` bytes (the reader's buffer) counts as missing; a REG_DWORD comes
// back as signed decimal.
bool ReadRegistryText(std::string_view keyPath, std::string_view name, std::string& text,
                      std::size_t maxBytes = 512);

// Writes REG_SZ (terminator included), creating the key when needed.
bool WriteRegistryText(std::string_view keyPath, std::string_view name, std::string_view text,
                       platform::registry::View view = platform::registry::View::Wow64_32);

// Deletes a key without subkeys.
bool DeleteRegistryKey(std::string_view keyPath,
                       platform::registry::View view = platform::registry::View::Wow64_32);

// Deletes one value; false when the key or the value is not there.
bool DeleteRegistryValue(std::string_view keyPath, std::string_view name,
                         platform::registry::View view = platform::registry::View::Wow64_32);

// The text of a value as the stub's readers take it: REG_DWORD as "%d",
// everything else as text up to the first null.
std::string RegistryValueText(std::uint32_t type, const std::vector<std::uint8_t>& data);

}  // namespace stubframework::core
