// The desktop session: a command that runs once when the desktop user next
// logs in (after a restart), and the restart itself.
#pragma once

#include <string>

namespace stubframework::platform::session {

// Runs `commandLine` (Windows spelling: a quoted program, then arguments)
// once at the desktop user's next login; the entry removes itself before the
// command runs. `name` names the entry. False when it cannot be written.
bool SetRunOnce(const std::string& name, const std::string& commandLine);
// Removes the entry of `name`, if there is one.
void RemoveRunOnce(const std::string& name);
// Where the entry of `name` lives; empty when there is no such place.
std::string RunOnceEntryPath(const std::string& name);

// Restarts the machine. STUB_REBOOT_COMMAND, when set, is run by the shell
// instead (tests set it). False when the command could not be started.
bool Reboot();

}  // namespace stubframework::platform::session
