// The start-up gates every process runs before the framework exists: the
// library guards, the replacement step of a self-update, and the launcher
// that runs the installer from a working copy in a temporary folder and
// hands over to a newly downloaded version.
#pragma once

#include <cstdint>
#include <string>

namespace stubframework::core {

enum class GateResult { Continue, Stop };

// What the launcher met before its working copy could start (a temporary
// folder mounted without the right to run programs), handed to the working
// copy for its log in this environment variable.
inline constexpr const char* kLauncherNotes = "STUB_LAUNCHER_NOTES";

// Continue: this process is the working copy. Stop: the process must end now
// with status 0. The replacement step and the ".local" guard end the process
// themselves, and so does a launcher whose working copy could start nowhere
// (status 1, with a kept log that says why).
GateResult RunWorkingCopy(const std::string& productId, const std::string& version);

// Child run: the program's exit code, 0 when it could not be started (and
// when not waiting).
std::uint32_t RunChild(const std::string& application, const std::string& commandLine,
                       const std::string& currentDirectory, bool wait);

// Whether a working copy's exit code hands over a self-update. POSIX keeps
// 8 bits of the code, so there 168 counts only while the registry value
// "selfupdate_code" says "197800".
bool IsSelfUpdateExitCode(std::uint32_t exitCode, const std::string& registryBase);

}  // namespace stubframework::core
