#include "platform/win32/Win32.h"
// After windows.h:
#include "platform/clock.h"

namespace stubframework::platform {

std::uint32_t TickCount() {
    return GetTickCount();
}

SystemTime UtcNow() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return SystemTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                      now.wMinute, now.wSecond, now.wMilliseconds};
}

}  // namespace stubframework::platform
