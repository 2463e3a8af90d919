#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/commandline.h"
#include "platform/process.h"

extern char** environ;

namespace stubframework::platform::process {
namespace {

std::vector<std::string>& StoredArguments() {
    static std::vector<std::string> arguments;
    return arguments;
}

std::uint32_t ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return static_cast<std::uint32_t>(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    }
    return 1;
}

bool WaitForChild(pid_t child, std::uint32_t& exitCode) {
    int status = 0;
    for (;;) {
        if (waitpid(child, &status, 0) == child) {
            exitCode = ExitCodeOf(status);
            return true;
        }
        if (errno != EINTR) {
            return false;
        }
    }
}

struct SpawnActions {
    posix_spawn_file_actions_t actions{};
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

}  // namespace

void SetArguments(int argc, char** argv) {
    auto& arguments = StoredArguments();
    arguments.assign(argv, argv + argc);
}

const std::vector<std::string>& Arguments() {
    return StoredArguments();
}

std::string ExecutablePath() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string RunningImagePath() {
    return "/proc/self/exe";
}

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(getpid());
}

void ExitProcess(std::uint32_t exitCode) {
    std::fflush(nullptr);
    _exit(static_cast<int>(exitCode & kExitCodeMask));
}

std::string EnvironmentVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : std::string();
}

bool RunProcess(const std::string& application, const std::string& commandLine,
                const std::string& currentDirectory, bool wait, std::uint32_t& exitCode) {
    exitCode = 0;
    std::vector<std::string> arguments = SplitCommandLine(commandLine);
    const std::string program = application.empty() ? arguments[0] : application;
    if (program.empty()) {
        return false;
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    SpawnActions spawn;
    if (!currentDirectory.empty() &&
        posix_spawn_file_actions_addchdir_np(&spawn.actions, currentDirectory.c_str()) != 0) {
        return false;
    }
    pid_t child = 0;
    // posix_spawn returns after the exec: once it succeeds the program file
    // may go away without harm.
    // Without an application path the program is looked up the way a shell would.
    const auto start = application.empty() ? posix_spawnp : posix_spawn;
    if (start(&child, program.c_str(), &spawn.actions, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    if (wait) {
        return WaitForChild(child, exitCode);
    }
    // Nobody waits for it, so reap it when it ends instead of leaving a zombie.
    std::thread([child] {
        std::uint32_t ignored = 0;
        WaitForChild(child, ignored);
    }).detach();
    return true;
}

bool WaitForProcessExit(std::uint32_t processId) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(processId), 0));
    if (pidfd >= 0) {
        pollfd ended{pidfd, POLLIN, 0};
        while (poll(&ended, 1, -1) < 0 && errno == EINTR) {
        }
        close(pidfd);
        return true;
    }
    if (errno != ENOSYS) {
        return false;
    }
    // Kernels before 5.3: poll for the identifier to go away.
    if (kill(static_cast<pid_t>(processId), 0) != 0 && errno == ESRCH) {
        return false;
    }
    while (kill(static_cast<pid_t>(processId), 0) == 0 || errno == EPERM) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void PreloadSystemLibrary(const char* /*name*/) {
    // The dynamic loader never looks beside the executable unless told to.
}

}  // namespace stubframework::platform::process
