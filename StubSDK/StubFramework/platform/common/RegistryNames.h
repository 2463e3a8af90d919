// The registry's names and text data as every realisation checks and
// spells them: the limits of a Windows registry, key paths split at
// backslashes, and the exceptions that are the only ones the code can raise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace stubframework::platform::registry::detail {

constexpr std::size_t kMaxKeyNameUnits = 255;
constexpr std::size_t kMaxValueNameUnits = 16383;
constexpr std::size_t kMaxDepth = 512;

// Allocation failures are the only exceptions the registry code can raise.
template <typename Call>
std::uint32_t Guarded(Call&& call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    } catch (const std::length_error&) {
        return kErrorNotEnoughMemory;
    }
}

// The name a Win32 call would see: up to the first null, invalid UTF-8
// replaced, so stored names always read back as valid text.
std::string CleanName(std::string_view text);
// The key names of a path between backslashes, checked against the limits.
std::uint32_t SplitPath(std::string_view text, std::vector<std::string>& parts);
std::string JoinPath(const std::vector<std::string>& parts);

}  // namespace stubframework::platform::registry::detail
