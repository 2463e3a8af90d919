#include <ctime>

#include "platform/clock.h"

namespace stubframework::platform {

std::uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

SystemTime UtcNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    return SystemTime{parts.tm_year + 1900,
                      parts.tm_mon + 1,
                      parts.tm_mday,
                      parts.tm_hour,
                      parts.tm_min,
                      parts.tm_sec,
                      static_cast<int>(now.tv_nsec / 1000000)};
}

}  // namespace stubframework::platform
