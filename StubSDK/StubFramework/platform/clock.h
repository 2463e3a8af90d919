// Time sources: a monotonic millisecond tick count and the UTC wall clock.
#pragma once

#include <cstdint>

namespace stubframework::platform {

// Milliseconds since an arbitrary start; wraps at 2^32 like GetTickCount.
std::uint32_t TickCount();

struct SystemTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int milliseconds = 0;
};

SystemTime UtcNow();

}  // namespace stubframework::platform
