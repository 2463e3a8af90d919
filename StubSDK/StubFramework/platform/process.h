// The running process: its arguments, image path and identifier.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stubframework::platform::process {

// Called once by main() with the arguments the OS passed.
void SetArguments(int argc, char** argv);
// The arguments as the OS passed them (element 0 is the program name).
const std::vector<std::string>& Arguments();

// Full path of the running executable.
std::string ExecutablePath();
std::uint32_t CurrentProcessId();
// The value of an environment variable; empty when unset.
std::string EnvironmentVariable(const char* name);

}  // namespace stubframework::platform::process

namespace stubframework::platform::process {

// Ends the process at once with the exit code. POSIX keeps only the low 8
// bits of it (197800 arrives as 168).
[[noreturn]] void ExitProcess(std::uint32_t exitCode);

}  // namespace stubframework::platform::process
