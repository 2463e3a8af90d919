// The page's side of window.external on the native side: callback events
// queued per page load, and the dispatch of one request of a page.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/com.h"
#include "platform/posix/host/EventHub.h"
#include "platform/window.h"

namespace stubframework::platform::posix {

inline constexpr int kMaxNesting = 8;

// True when the JSON text nests arrays and objects no deeper than `depth`
// (a text that is not JSON may pass: the parser refuses it).
bool NestingWithin(std::string_view text, int depth);

// Runs on the window thread: one JSON request of a page ("call", "get",
// "set", "delete", "has", "connect", "documentComplete") against
// window.external, and the JSON reply. Malformed requests (nested deeper
// than kMaxNesting among them) and requests of a session the hub never
// handed out set `badRequest` and do nothing.
std::string DispatchBridgeMessage(const std::string& body, IDispatchEx& external,
                                  window::HostEvents& events, const std::shared_ptr<EventHub>& hub,
                                  bool& badRequest);

}  // namespace stubframework::platform::posix
