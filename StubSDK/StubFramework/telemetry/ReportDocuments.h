// The XML documents the installer sends its web service. Elements follow one
// another with no declaration, indentation or line breaks, and values go in
// as they are: the service reads them so.
#pragma once

#include <string>
#include <string_view>

namespace stubframework::core {

class FrameworkCore;

// The form of the machine identifier the service sees: 64 lower-case hex
// digits of the SHA-256 over the low byte of each UTF-16 unit; "" for "".
std::string MachineIdDigest(std::string_view identifier);

// <RegionRestrictions>: the question whether the user's region is restricted.
std::string RegionRestrictionsDocument(FrameworkCore& core);

}  // namespace stubframework::core
