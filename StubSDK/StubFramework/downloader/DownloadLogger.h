// The engine's logger: each message as one TRACE line "function> message" of
// the installer log, or nothing when there is no log.
#pragma once

#include "core/PrintfFormat.h"
#include "downloader/Object.h"
#include "downloader/TaskModel.h"

namespace stubframework::debug {

class InstallerLog;

class DownloadLogger : public downloader::ILogger {
public:
    explicit DownloadLogger(InstallerLog* log) : log_(log) {}
    void Log(const char* function, const char* format, ...) override STUB_PRINTF_FORMAT(3, 4);

protected:
    ~DownloadLogger() = default;

private:
    InstallerLog* log_;
};

// A new logger with one reference.
downloader::ILogger* CreateDownloadLogger(InstallerLog* log);

}  // namespace stubframework::debug
