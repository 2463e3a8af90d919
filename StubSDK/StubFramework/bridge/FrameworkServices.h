// What the script methods and their workers reach of the root object that
// owns them: the log, the core and window.external. The root (app/Framework)
// implements it; the bridge never sees the root itself, which sits above it.
#pragma once

#include "core/InstallerLog.h"

namespace stubframework::core {
class FrameworkCore;
class HtmlExternal;
}  // namespace stubframework::core

namespace stubframework {

class FrameworkServices {
public:
    // Null once the teardown has destroyed it.
    virtual debug::InstallerLog* Log() const = 0;
    virtual core::FrameworkCore& Core() const = 0;
    // window.external.
    virtual core::HtmlExternal& Dispatch() const = 0;

protected:
    ~FrameworkServices() = default;
};

}  // namespace stubframework

namespace stubframework::debug {

// Level 4 and 2 messages of handlers and workers; nothing without a framework.
void FrameworkDebugMessage(const FrameworkServices* framework, const char* format, ...)
    STUB_PRINTF_FORMAT(2, 3);
void FrameworkErrorMessage(const FrameworkServices* framework, const char* format, ...)
    STUB_PRINTF_FORMAT(2, 3);

}  // namespace stubframework::debug
