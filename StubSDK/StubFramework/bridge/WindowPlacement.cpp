#include "bridge/WindowPlacement.h"

#include <algorithm>

namespace stubframework {

namespace window = platform::window;

window::Rect CenteredRect(int outerWidth, int outerHeight, const window::Rect& reference,
                          const window::Rect& workArea) {
    const int left = std::max(
        workArea.left,
        std::min(workArea.right, (reference.left + reference.right + outerWidth) / 2) - outerWidth);
    const int top =
        std::max(workArea.top,
                 std::min(workArea.bottom, (reference.top + reference.bottom + outerHeight) / 2) -
                     outerHeight);
    return {left, top, left + outerWidth, top + outerHeight};
}

window::Rect PlaceWindow(window::Handle handle, int width, int height) {
    const int dpi = window::Dpi(handle);
    const window::Rect client{0, 0, width * dpi / 96, height * dpi / 96};
    const window::Rect outer = window::OuterFromClient(handle, client);
    window::Rect reference;
    window::Rect workArea;
    window::PlacementReference(handle, reference, workArea);
    return CenteredRect(outer.Width(), outer.Height(), reference, workArea);
}

}  // namespace stubframework
