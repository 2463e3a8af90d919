// What one installation reports while it runs: the process-wide settings of
// the UI calls (level, external handler, log file), the verbose log of the
// installation, and the messages its external UI handler receives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/fs.h"
#include "platform/msi.h"

namespace stubframework::platform::msi::detail {

// The level SetInternalUI last set.
std::uint32_t UiLevel();

// "YYYY-MM-DD hh:mm:ss", UTC.
std::string Now();

// The verbose log of one installation, when logging is on.
class VerboseLog {
public:
    VerboseLog();
    ~VerboseLog();
    VerboseLog(const VerboseLog&) = delete;
    VerboseLog& operator=(const VerboseLog&) = delete;

    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
    fs::File file_;
};

// The external UI handler as the installation sees it: messages the filter
// lets through; false once the handler asked to cancel.
class UiChannel {
public:
    UiChannel();
    bool Send(std::uint32_t type, const std::string& text);
    // A progress message "1: kind 2: value 3: third 4: fourth".
    bool Progress(int kind, std::int64_t value, int third = 0, int fourth = 0);
    bool Cancelled() const { return cancelled_; }

private:
    ExternalUiHandler handler_ = nullptr;
    std::uint32_t filter_ = 0;
    void* context_ = nullptr;
    bool cancelled_ = false;
};

}  // namespace stubframework::platform::msi::detail
