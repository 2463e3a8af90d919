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
// Sets a variable for this process and the children it starts later; an
// empty value removes it.
void SetEnvironmentVariable(const char* name, const std::string& value);

}  // namespace stubframework::platform::process

namespace stubframework::platform::process {

// The bits of an exit code that reach the parent: all 32 on Windows, the
// low 8 on POSIX (197800 arrives as 168).
#ifdef _WIN32
inline constexpr std::uint32_t kExitCodeMask = 0xFFFFFFFFu;
#else
inline constexpr std::uint32_t kExitCodeMask = 0xFFu;
#endif

// Ends the process at once with the exit code.
[[noreturn]] void ExitProcess(std::uint32_t exitCode);

// A path the running executable's bytes can be copied from, even after its
// file was removed or replaced (Linux lets that happen to a running program).
std::string RunningImagePath();

// CreateProcess: starts `application` (the first element of the command line
// when empty) with that command line in `currentDirectory`, with the parent's
// environment and no inherited handles. With `wait`, blocks until it ends and
// gives its exit code. False when it could not be started.
bool RunProcess(const std::string& application, const std::string& commandLine,
                const std::string& currentDirectory, bool wait, std::uint32_t& exitCode);

// The desktop shell launch: starts `program` with `arguments` as the
// interactive desktop user, also when this process runs elevated for them
// (through sudo or pkexec). True when it started.
bool LaunchAsDesktopUser(const std::string& program, const std::vector<std::string>& arguments);

// Opens a document or an address with the desktop's default handler, as
// the desktop user (the shell's "open"; xdg-open). True when it started.
bool OpenWithDesktop(const std::string& target);

// Starts `program` with `arguments` unseen: no terminal, standard input and
// output on the null device, not awaited. True when it started.
bool LaunchHidden(const std::string& program, const std::vector<std::string>& arguments);
// Runs a command line through the system's shell (cmd.exe /c; sh -c), as
// LaunchHidden runs a program.
bool RunShellCommand(const std::string& command);

// Starts `program` with `arguments` with administrator rights, asking for
// them (pkexec) when this process has none. True when it started.
bool LaunchElevated(const std::string& program, const std::vector<std::string>& arguments);

// Blocks until the process with this identifier has ended. False, at once,
// when no such process can be opened.
bool WaitForProcessExit(std::uint32_t processId);

// A mark of the running process with this identifier that a later process
// given the same identifier does not share (it holds the start time); empty
// when no such process runs.
std::string ProcessMark(std::uint32_t processId);

// The process snapshot's question: does a running program have this
// executable name (a file name without folder), compared without regard to
// case? On Linux the name may be the executable's, argv[0]'s or the
// process's short name (for a script, the script's).
bool IsProgramRunning(const std::string& program);

// Passes an end request (signal) on to the children RunProcess is waiting
// for now.
void ForwardToWaitedChildren(int request);

// A child started from a command line (CreateProcess): the program is the
// first argument, looked up the way a shell would; "msiexec.exe" names the
// installer stand-in beside our executable. Exit codes arrive whole (32
// bits) from children that end through ExitProcess, 8 bits from others.
class ChildProcess {
public:
    ChildProcess() = default;
    // A child still running is left to run; it is reaped when it ends.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    static constexpr std::uint32_t kInfiniteWait = 0xFFFFFFFFu;
    // The code of a child that ended without telling it.
    static constexpr std::uint32_t kUnknownExitCode = 0xFFFFFFFFu;

    bool Start(const std::string& commandLine);
    // True when the child has ended within the time; then `exitCode` holds its code.
    bool Wait(std::uint32_t timeoutMs, std::uint32_t& exitCode);

private:
    int pid_ = -1;
    int pidfd_ = -1;
    int codePipe_ = -1;
};

// Loads a system library by full path before anything else can plant one
// beside the executable. Nothing to do where libraries are not searched there.
void PreloadSystemLibrary(const char* name);

}  // namespace stubframework::platform::process
