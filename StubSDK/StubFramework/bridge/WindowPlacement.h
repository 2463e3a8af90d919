// Where the wizard window goes for a client size given at 96 DPI: scaled to
// the screen, centred on its owner or on the monitor under the mouse, kept
// inside the work area.
#pragma once

#include "platform/window.h"

namespace stubframework {

platform::window::Rect PlaceWindow(platform::window::Handle window, int width, int height);

// The placement arithmetic alone, for a DPI, an outer size and the two rectangles.
platform::window::Rect CenteredRect(int outerWidth, int outerHeight,
                                    const platform::window::Rect& reference,
                                    const platform::window::Rect& workArea);

}  // namespace stubframework
