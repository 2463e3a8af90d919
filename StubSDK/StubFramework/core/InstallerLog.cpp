#include "core/InstallerLog.h"

#include <array>
#include <vector>

#include "core/TempFolder.h"
#include "platform/fs.h"

namespace stubframework::debug {
namespace {

constexpr std::array<const char*, 5> kLevelNames{"", "TRACE", "ERROR", "WARNING", "DEBUG"};

// Windows writes the log in text mode, so a line ends in CR LF; the file
// keeps those bytes on every platform.
constexpr char kLineEnd[] = "\r\n";

constexpr std::size_t kTraceBufferChars = 1024;

const char* LevelName(int level) {
    return level >= 1 && level < static_cast<int>(kLevelNames.size()) ? kLevelNames[level] : "";
}

// Cuts to at most `limit` bytes without splitting a UTF-8 sequence.
void CutUtf8(std::string& text, std::size_t limit) {
    if (text.size() <= limit) {
        return;
    }
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
}

}  // namespace

std::string FormatV(const char* format, std::va_list arguments) {
    std::va_list probe;
    va_copy(probe, arguments);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): va_copy above started it
    const int length = std::vsnprintf(nullptr, 0, format, probe);
    va_end(probe);
    if (length <= 0) {
        return {};
    }
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): the caller started it
    std::vsnprintf(buffer.data(), buffer.size(), format, arguments);
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::string Format(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::string text = FormatV(format, arguments);
    va_end(arguments);
    return text;
}

std::string InstallerLog::FileNameFor(const platform::SystemTime& time) {
    return Format("installer_log_%s.txt", Format("%4d%02d%02d%02d%02d%02d", time.year, time.month,
                                                 time.day, time.hour, time.minute, time.second)
                                              .c_str());
}

std::string InstallerLog::HeaderFor(const platform::SystemTime& time, int level) {
    const std::string stamp =
        Format("%4d%02d%02d %02d:%02d:%02d %3d", time.year, time.month, time.day, time.hour,
               time.minute, time.second, time.milliseconds);
    return Format("[%s %s] ", stamp.c_str(), LevelName(level));
}

InstallerLog::InstallerLog() {
    if (!core::CreateUniqueTempFolder(folder_)) {
        folder_.clear();
        return;
    }
    const std::string path = folder_ + FileNameFor(platform::UtcNow());
    file_ = platform::fs::OpenForAppend(path);
    if (file_ != nullptr) {
        filePath_ = path;
    }
}

InstallerLog::~InstallerLog() {
    Close();
    if (!folder_.empty()) {
        core::DeleteFolderTree(folder_);
    }
}

void InstallerLog::Write(int level, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    WriteV(level, format, arguments);
    va_end(arguments);
}

void InstallerLog::WriteV(int level, const char* format, std::va_list arguments) {
    if (level > threshold_) {
        return;
    }
    const std::string message = FormatV(format, arguments);
    const std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr) {
        return;
    }
    const std::string header = HeaderFor(platform::UtcNow(), level);
    std::fputs(header.c_str(), file_.get());
    std::fwrite(message.data(), 1, message.size(), file_.get());
    std::fputs(kLineEnd, file_.get());
    std::fflush(file_.get());
}

void InstallerLog::Close() {
    const std::lock_guard<std::mutex> lock(mutex_);
    file_.reset();
}

namespace {

STUB_PRINTF_FORMAT(3, 0)
void WriteTo(InstallerLog* log, int level, const char* format, std::va_list arguments) {
    if (log != nullptr) {
        log->WriteV(level, format, arguments);
    }
}

}  // namespace

void LogDebugMessage(InstallerLog* log, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    WriteTo(log, kDebug, format, arguments);
    va_end(arguments);
}

void LogErrorMessage(InstallerLog* log, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    WriteTo(log, kError, format, arguments);
    va_end(arguments);
}

void LogTraceMessage(InstallerLog* log, const char* source, const char* format, ...) {
    if (log == nullptr) {
        return;
    }
    std::va_list arguments;
    va_start(arguments, format);
    std::string message = FormatV(format, arguments);
    va_end(arguments);
    CutUtf8(message, kTraceBufferChars - 1);
    log->Write(kTrace, "%s> %s", source, message.c_str());
}

}  // namespace stubframework::debug
