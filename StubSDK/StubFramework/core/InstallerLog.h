// The run's text log: one file in a folder of its own under the temporary
// folder, one line per message, safe to call from any thread.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>

#include "core/PrintfFormat.h"
#include "platform/clock.h"
#include "platform/fs.h"

namespace stubframework::debug {

enum LogLevel : int {
    kTrace = 1,
    kError = 2,
    kWarning = 3,
    kDebug = 4,
};

class InstallerLog {
public:
    // Opens the file; when no folder can be made every message is dropped.
    InstallerLog();
    // Closes the file and deletes the log's folder with the file in it.
    ~InstallerLog();
    InstallerLog(const InstallerLog&) = delete;
    InstallerLog& operator=(const InstallerLog&) = delete;

    void Write(int level, const char* format, ...) STUB_PRINTF_FORMAT(3, 4);
    void WriteV(int level, const char* format, std::va_list arguments) STUB_PRINTF_FORMAT(3, 0);
    // Later messages are dropped; one already being written finishes first.
    void Close();

    const std::string& FilePath() const { return filePath_; }
    const std::string& Folder() const { return folder_; }

    // "installer_log_YYYYMMDDhhmmss.txt"
    static std::string FileNameFor(const platform::SystemTime& time);
    // "[YYYYMMDD hh:mm:ss mmm LEVEL] "
    static std::string HeaderFor(const platform::SystemTime& time, int level);

private:
    std::string filePath_;
    std::string folder_;
    int threshold_ = kDebug;
    platform::fs::File file_;
    std::mutex mutex_;  // one whole line at a time, and never after Close
};

// Level 4 and 2 messages; nothing without a log.
void LogDebugMessage(InstallerLog* log, const char* format, ...) STUB_PRINTF_FORMAT(2, 3);
void LogErrorMessage(InstallerLog* log, const char* format, ...) STUB_PRINTF_FORMAT(2, 3);
// The download engine's messages: cut to 1023 characters, then "source> message".
void LogTraceMessage(InstallerLog* log, const char* source, const char* format, ...)
    STUB_PRINTF_FORMAT(3, 4);

// printf into a std::string.
std::string FormatV(const char* format, std::va_list arguments) STUB_PRINTF_FORMAT(1, 0);
std::string Format(const char* format, ...) STUB_PRINTF_FORMAT(1, 2);

}  // namespace stubframework::debug
