#include "downloader/DownloadLogger.h"

#include <cstdarg>

#include "core/InstallerLog.h"

namespace stubframework::debug {

void DownloadLogger::Log(const char* function, const char* format, ...) {
    if (log_ == nullptr) {
        return;
    }
    std::va_list arguments;
    va_start(arguments, format);
    const std::string message = FormatV(format, arguments);
    va_end(arguments);
    LogTraceMessage(log_, function, "%s", message.c_str());
}

downloader::ILogger* CreateDownloadLogger(InstallerLog* log) {
    return downloader::details::Create<DownloadLogger>(log);
}

}  // namespace stubframework::debug
