// GUID text from random bytes, the same on every system.
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/crypto.h"

namespace stubframework::platform::crypto {

std::string NewGuidText(GuidCase letters) {
    std::uint8_t b[16];
    if (!RandomBytes(b, sizeof b)) {
        return {};
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // variant 1
    char text[37];
    std::snprintf(text, sizeof text,
                  letters == GuidCase::kUpper
                      ? "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X"
                      : "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12],
                  b[13], b[14], b[15]);
    return text;
}

}  // namespace stubframework::platform::crypto
