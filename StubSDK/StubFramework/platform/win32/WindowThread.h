// The window thread's side of a Win32 message loop: what the loops of this
// folder share with RunWindowLoop.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/win32/Win32.h"

namespace stubframework::platform::win32 {

// Hands one retrieved message on: the wake of posted work runs that work,
// anything else is translated and dispatched.
void DispatchThreadMessage(const MSG& message);

// Runs this thread's messages until `done` holds or the time-out passes;
// true when done. A WM_QUIT ends the wait early and is posted again for the
// loop further out.
bool PumpMessagesUntil(const std::function<bool()>& done, std::uint32_t timeoutMs);

}  // namespace stubframework::platform::win32
