#include "bridge/FrameworkServices.h"

#include <cstdarg>

namespace stubframework::debug {
namespace {

STUB_PRINTF_FORMAT(3, 0)
void WriteTo(const FrameworkServices* framework, int level, const char* format,
             std::va_list arguments) {
    InstallerLog* const log = framework != nullptr ? framework->Log() : nullptr;
    if (log != nullptr) {
        log->WriteV(level, format, arguments);
    }
}

}  // namespace

void FrameworkDebugMessage(const FrameworkServices* framework, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    WriteTo(framework, kDebug, format, arguments);
    va_end(arguments);
}

void FrameworkErrorMessage(const FrameworkServices* framework, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    WriteTo(framework, kError, format, arguments);
    va_end(arguments);
}

}  // namespace stubframework::debug
