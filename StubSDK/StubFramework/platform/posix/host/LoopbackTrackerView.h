// The tracker's page for a run without a window of its own: served on
// 127.0.0.1 under a token of its own, its address written to
// STUB_TRACKER_URL_FILE for whatever is to open it (never the desktop's
// browser, where it would show).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/trackerview.h"

namespace stubframework::platform::posix {

// Null when STUB_TRACKER_URL_FILE is not set or no port can be had.
std::unique_ptr<trackerview::View> OpenLoopbackTrackerView(
    const std::string& url, bool alerting, std::function<void(const std::string&)> onMessage);

// The page's answer to one event, {"id": N, "ok": bool, "text": "..."};
// false for anything else.
bool ReadTrackResult(std::string_view body, std::uint64_t& id, trackerview::CallResult& result);

}  // namespace stubframework::platform::posix
