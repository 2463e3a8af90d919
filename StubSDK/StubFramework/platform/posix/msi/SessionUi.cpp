#include "platform/posix/msi/SessionUi.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdarg>
#include <mutex>

#include "platform/clock.h"

namespace stubframework::platform::msi {
namespace {

// Process-wide, as the Windows calls are.
struct Settings {
    std::mutex lock;
    std::uint32_t uiLevel = kUiBasic;
    ExternalUiHandler handler = nullptr;
    std::uint32_t filter = 0;
    void* context = nullptr;
    std::string logPath;
    bool logAppend = false;
};

Settings& State() {
    static Settings settings;
    return settings;
}

}  // namespace

std::uint32_t SetInternalUI(std::uint32_t level, void* /*window*/) {
    Settings& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    const std::uint32_t previous = state.uiLevel;
    if (level != kUiNoChange) {
        state.uiLevel = level;
    }
    return previous;
}

std::uint32_t detail::UiLevel() {
    Settings& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    return state.uiLevel;
}

ExternalUiHandler SetExternalUI(ExternalUiHandler handler, std::uint32_t filter, void* context) {
    Settings& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    const ExternalUiHandler previous = state.handler;
    state.handler = handler;
    state.filter = filter;
    state.context = context;
    return previous;
}

std::uint32_t EnableLog(std::uint32_t mode, const std::string& path, std::uint32_t attributes) {
    Settings& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    state.logPath = mode != 0 ? path : std::string();
    state.logAppend = (attributes & kLogAppend) != 0;
    return kSuccess;
}

namespace detail {

std::string Now() {
    const SystemTime t = UtcNow();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

VerboseLog::VerboseLog() {
    Settings& state = State();
    {
        const std::lock_guard<std::mutex> guard(state.lock);
        // Private, and never written through a link.
        if (!state.logPath.empty()) {
            file_ = fs::OpenForAppend(state.logPath);
        }
        if (file_ && !state.logAppend && ftruncate(fileno(file_.get()), 0) != 0) {
            file_.reset();
        }
    }
    Line("=== Verbose logging started: %s ===", Now().c_str());
}

VerboseLog::~VerboseLog() {
    Line("=== Logging stopped: %s ===", Now().c_str());
}

void VerboseLog::Line(const char* format, ...) {
    if (!file_) {
        return;
    }
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(file_.get(), format, arguments);
    va_end(arguments);
    std::fputs("\r\n", file_.get());
}

UiChannel::UiChannel() {
    Settings& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    handler_ = state.handler;
    filter_ = state.filter;
    context_ = state.context;
}

bool UiChannel::Send(std::uint32_t type, const std::string& text) {
    if (handler_ == nullptr || (filter_ & LogModeOf(type)) == 0) {
        return true;
    }
    cancelled_ |= handler_(context_, type, text.c_str()) == kIdCancel;
    return !cancelled_;
}

bool UiChannel::Progress(int kind, std::int64_t value, int third, int fourth) {
    char text[96];
    std::snprintf(text, sizeof text, "1: %d 2: %" PRId64 " 3: %d 4: %d ", kind, value, third,
                  fourth);
    return Send(kMessageProgress, text);
}

}  // namespace detail
}  // namespace stubframework::platform::msi
