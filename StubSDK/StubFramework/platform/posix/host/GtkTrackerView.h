// The tracker's page beside the GTK window: a hidden WebKit view.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/trackerview.h"

namespace stubframework::platform::posix {

// Null unless this run shows its window with GTK.
std::unique_ptr<trackerview::View> OpenGtkTrackerView(
    const std::string& url, bool alerting, std::function<void(const std::string&)> onMessage);

// True once this run has shown a GTK window: its GLib loop serves the views.
bool GtkInUse();
// Runs the GLib loop's pending work once, when this thread may (the one
// that ran the window).
void ServeGtkOnce();

}  // namespace stubframework::platform::posix
