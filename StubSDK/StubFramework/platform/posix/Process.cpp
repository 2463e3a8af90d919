#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "platform/commandline.h"
#include "platform/posix/DesktopUser.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/unicode.h"

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

constexpr const char* kExitCodeFdVariable = "STUB_EXIT_CODE_FD";
constexpr int kExitCodeFd = 3;

// The pipe a parent of ours gave us for our whole exit code, taken once at
// start-up: the variable goes from the environment and the descriptor is not
// inherited, so our own children never write into whatever their fd 3 is.
int TakeExitCodePipe() noexcept {
    const char* text = std::getenv(kExitCodeFdVariable);
    if (text == nullptr || *text == '\0') {
        return -1;
    }
    const int fd = std::atoi(text);
    unsetenv(kExitCodeFdVariable);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) {
        return -1;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

const int exitCodePipe = TakeExitCodePipe();

// "msiexec.exe" (any case, with or without a folder) runs the stand-in that
// lies beside our executable, else the one in the system folder, where
// Windows keeps its own (an installer running as a working copy in a
// temporary folder has nothing beside it).
void ResolveStandIns(std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        return;
    }
    const std::string name = FoldCase(arguments[0].substr(arguments[0].find_last_of("/\\") + 1));
    if (name != "MSIEXEC.EXE" && name != "MSIEXEC") {
        return;
    }
    const std::string self = ExecutablePath();
    const std::string beside = self.substr(0, self.find_last_of('/') + 1) + "msiexec";
    const std::string installed = system::SystemFolder() + "/msiexec";
    arguments[0] = access(beside.c_str(), X_OK) != 0 && access(installed.c_str(), X_OK) == 0
                       ? installed
                       : beside;
}

// An argv array pointing into `arguments`, ending with null.
std::vector<char*> Argv(std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    return argv;
}

// Nobody waits for the child, so it is reaped when it ends instead of
// staying a zombie.
void ReapWhenDone(pid_t child) {
    std::thread([child] {
        std::uint32_t ignored = 0;
        WaitForChild(child, ignored);
    }).detach();
}

struct SpawnActions {
    posix_spawn_file_actions_t actions{};
    SpawnActions() { posix_spawn_file_actions_init(&actions); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
};

// The signals a child gets back with their usual meaning: we may have
// blocked them for ourselves (HandleEndRequests).
void EndSignals(sigset_t& signals) {
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGINT);
}

// Spawn attributes every child gets: no blocked signals, the end signals at
// their default action; `flags` adds to that (POSIX_SPAWN_SETSID).
struct SpawnAttributes {
    posix_spawnattr_t attributes{};
    explicit SpawnAttributes(short flags = 0) {
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        EndSignals(defaults);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, static_cast<short>(flags | POSIX_SPAWN_SETSIGMASK |
                                                                 POSIX_SPAWN_SETSIGDEF));
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

// The children RunProcess waits for, to pass end requests on to.
struct WaitedChildren {
    std::mutex mutex;
    std::set<pid_t> children;
};

WaitedChildren& Waited() {
    static WaitedChildren waited;
    return waited;
}

// While a thread waits for a child, the end signals go to other threads (the
// one that handles them among them): a handler run inside the restarted
// wait is not seen by every runtime until the wait ends.
class WaitingFor {
public:
    explicit WaitingFor(pid_t child) : child_(child) {
        sigset_t requests;
        EndSignals(requests);
        pthread_sigmask(SIG_BLOCK, &requests, &previous_);
        const std::lock_guard<std::mutex> lock(Waited().mutex);
        Waited().children.insert(child_);
    }
    ~WaitingFor() {
        {
            const std::lock_guard<std::mutex> lock(Waited().mutex);
            Waited().children.erase(child_);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    WaitingFor(const WaitingFor&) = delete;
    WaitingFor& operator=(const WaitingFor&) = delete;

private:
    pid_t child_;
    sigset_t previous_{};
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
    // A parent that started us as a ChildProcess reads the whole code here.
    if (const int pipe = exitCodePipe; pipe >= 0) {
        const unsigned char bytes[4] = {static_cast<unsigned char>(exitCode & 0xFF),
                                        static_cast<unsigned char>((exitCode >> 8) & 0xFF),
                                        static_cast<unsigned char>((exitCode >> 16) & 0xFF),
                                        static_cast<unsigned char>(exitCode >> 24)};
        [[maybe_unused]] const ssize_t written = write(pipe, bytes, sizeof bytes);
    }
    _exit(static_cast<int>(exitCode & kExitCodeMask));
}

std::string EnvironmentVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : std::string();
}

void SetEnvironmentVariable(const char* name, const std::string& value) {
    if (value.empty()) {
        unsetenv(name);
    } else {
        setenv(name, value.c_str(), 1);
    }
}

ChildProcess::~ChildProcess() {
    if (codePipe_ >= 0) {
        close(codePipe_);
    }
    if (pidfd_ >= 0) {
        close(pidfd_);
    }
    if (pid_ > 0) {
        ReapWhenDone(pid_);
    }
}

bool ChildProcess::Start(const std::string& commandLine) {
    std::vector<std::string> arguments = SplitCommandLine(commandLine);
    ResolveStandIns(arguments);
    if (arguments.empty() || arguments[0].empty()) {
        return false;
    }
    int codes[2];
    if (pipe2(codes, O_CLOEXEC) != 0) {
        return false;
    }
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        if (std::string_view(*variable).rfind(std::string(kExitCodeFdVariable) + "=", 0) != 0) {
            environment.emplace_back(*variable);
        }
    }
    environment.push_back(std::string(kExitCodeFdVariable) + "=" + std::to_string(kExitCodeFd));
    std::vector<char*> envp = Argv(environment);
    std::vector<char*> argv = Argv(arguments);
    SpawnActions spawn;
    // The code pipe becomes descriptor 3; nothing else of ours reaches the child.
    posix_spawn_file_actions_adddup2(&spawn.actions, codes[1], kExitCodeFd);
    posix_spawn_file_actions_addclosefrom_np(&spawn.actions, kExitCodeFd + 1);
    const SpawnAttributes attributes;
    pid_t child = 0;
    const int started = posix_spawnp(&child, argv[0], &spawn.actions, &attributes.attributes,
                                     argv.data(), envp.data());
    close(codes[1]);
    if (started != 0) {
        close(codes[0]);
        return false;
    }
    pid_ = child;
    codePipe_ = codes[0];
    // A grandchild may hold the write end for long: reading must never wait.
    fcntl(codePipe_, F_SETFL, O_NONBLOCK);
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
    return true;
}

bool ChildProcess::Wait(std::uint32_t timeoutMs, std::uint32_t& exitCode) {
    if (pid_ <= 0) {
        return false;
    }
    if (pidfd_ >= 0) {
        pollfd ready{pidfd_, POLLIN, 0};
        const int polled =
            poll(&ready, 1, timeoutMs == kInfiniteWait ? -1 : static_cast<int>(timeoutMs));
        if (polled == 0 || (polled < 0 && errno == EINTR)) {
            return false;
        }
    }
    std::uint32_t status = kUnknownExitCode;
    // A child reaped elsewhere (SIGCHLD ignored by whoever started us) has
    // ended too; only its code is unknown unless it wrote it.
    WaitForChild(pid_, status);
    pid_ = -1;
    exitCode = status;
    unsigned char bytes[4];
    if (read(codePipe_, bytes, sizeof bytes) == sizeof bytes) {
        exitCode = static_cast<std::uint32_t>(bytes[0]) |
                   (static_cast<std::uint32_t>(bytes[1]) << 8) |
                   (static_cast<std::uint32_t>(bytes[2]) << 16) |
                   (static_cast<std::uint32_t>(bytes[3]) << 24);
    }
    return true;
}

bool RunProcess(const std::string& application, const std::string& commandLine,
                const std::string& currentDirectory, bool wait, std::uint32_t& exitCode) {
    exitCode = 0;
    std::vector<std::string> arguments = SplitCommandLine(commandLine);
    const std::string program = application.empty() ? arguments[0] : application;
    if (program.empty()) {
        return false;
    }
    std::vector<char*> argv = Argv(arguments);

    SpawnActions spawn;
    // Nothing of ours (sockets of the page server among them) reaches the child.
    posix_spawn_file_actions_addclosefrom_np(&spawn.actions, 3);
    if (!currentDirectory.empty() &&
        posix_spawn_file_actions_addchdir_np(&spawn.actions, currentDirectory.c_str()) != 0) {
        return false;
    }
    pid_t child = 0;
    // posix_spawn returns after the exec: once it succeeds the program file
    // may go away without harm.
    // Without an application path the program is looked up the way a shell would.
    const auto start = application.empty() ? posix_spawnp : posix_spawn;
    const SpawnAttributes attributes;
    if (start(&child, program.c_str(), &spawn.actions, &attributes.attributes, argv.data(),
              environ) != 0) {
        return false;
    }
    if (wait) {
        const WaitingFor waiting(child);
        return WaitForChild(child, exitCode);
    }
    ReapWhenDone(child);
    return true;
}

namespace {

using posix::DesktopUser;

}  // namespace
}  // namespace stubframework::platform::process

namespace stubframework::platform::posix {

bool DesktopUser(uid_t& uid, gid_t& gid, std::string& name, std::string& home) {
    if (geteuid() != 0) {
        return false;
    }
    std::string id = process::EnvironmentVariable("PKEXEC_UID");
    if (id.empty()) {
        id = process::EnvironmentVariable("SUDO_UID");
    }
    if (id.empty()) {
        return false;
    }
    const passwd* entry = getpwuid(static_cast<uid_t>(std::strtoul(id.c_str(), nullptr, 10)));
    if (entry == nullptr || entry->pw_uid == 0) {
        return false;
    }
    uid = entry->pw_uid;
    gid = entry->pw_gid;
    name = entry->pw_name;
    home = entry->pw_dir;
    return true;
}

}  // namespace stubframework::platform::posix

namespace stubframework::platform::process {
namespace {

// Starts a program without waiting; it is reaped when it ends.
bool SpawnDetached(std::vector<std::string> arguments) {
    std::vector<char*> argv = Argv(arguments);
    SpawnActions spawn;
    posix_spawn_file_actions_addclosefrom_np(&spawn.actions, 3);
    const SpawnAttributes attributes;
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], &spawn.actions, &attributes.attributes, argv.data(),
                     environ) != 0) {
        return false;
    }
    ReapWhenDone(child);
    return true;
}

bool OnPath(const char* program) {
    const std::string path = EnvironmentVariable("PATH");
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string candidate = path.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

}  // namespace

bool LaunchAsDesktopUser(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> command{program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;
    if (!DesktopUser(uid, gid, name, home)) {
        return SpawnDetached(std::move(command));
    }
    // Everything the child needs is prepared here: after fork() it only
    // makes system calls, since another thread may hold a lock it would need.
    std::vector<gid_t> groups(64);
    int groupCount = static_cast<int>(groups.size());
    if (getgrouplist(name.c_str(), gid, groups.data(), &groupCount) < 0) {
        groups.resize(static_cast<std::size_t>(groupCount));
        getgrouplist(name.c_str(), gid, groups.data(), &groupCount);
    }
    std::vector<std::string> environment{"HOME=" + home, "USER=" + name, "LOGNAME=" + name};
    for (char** variable = environ; *variable != nullptr; ++variable) {
        const std::string_view text(*variable);
        if (!text.starts_with("HOME=") && !text.starts_with("USER=") &&
            !text.starts_with("LOGNAME=")) {
            environment.emplace_back(text);
        }
    }
    std::vector<char*> envp = Argv(environment);
    std::vector<char*> argv = Argv(command);
    sigset_t none;
    sigemptyset(&none);
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        close_range(3, ~0U, 0);
        // Our end requests are not the child's: give the signals back.
        for (const int request : {SIGTERM, SIGHUP, SIGINT}) {
            signal(request, SIG_DFL);
        }
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (setgroups(static_cast<std::size_t>(groupCount), groups.data()) != 0 ||
            setgid(gid) != 0 || setuid(uid) != 0) {
            _exit(127);
        }
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ReapWhenDone(child);
    return true;
}

bool LaunchHidden(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> command{program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = Argv(command);
    SpawnActions spawn;
    posix_spawn_file_actions_addclosefrom_np(&spawn.actions, 3);
    for (const int fd : {0, 1, 2}) {
        posix_spawn_file_actions_addopen(&spawn.actions, fd, "/dev/null",
                                         fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    // A session of its own: no controlling terminal.
    const SpawnAttributes attributes(POSIX_SPAWN_SETSID);
    pid_t child = 0;
    const bool started = posix_spawnp(&child, argv[0], &spawn.actions, &attributes.attributes,
                                      argv.data(), environ) == 0;
    if (!started) {
        return false;
    }
    ReapWhenDone(child);
    return true;
}

bool OpenWithDesktop(const std::string& target) {
    return LaunchAsDesktopUser("xdg-open", {target});
}

bool RunShellCommand(const std::string& command) {
    return LaunchHidden("/bin/sh", {"-c", command});
}

bool LaunchElevated(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> command;
    if (geteuid() != 0 && OnPath("pkexec")) {
        command.emplace_back("pkexec");
    }
    command.push_back(program);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return SpawnDetached(std::move(command));
}

std::string ProcessMark(std::uint32_t processId) {
    std::ifstream stat("/proc/" + std::to_string(processId) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) {
        return {};
    }
    // The name in parentheses may hold blanks and parentheses; the fields
    // after its last ')' are plain. The start time is field 22.
    const std::size_t name = text.rfind(')');
    if (name == std::string::npos) {
        return {};
    }
    std::size_t at = name + 1;
    for (int field = 3; field <= 22 && at != std::string::npos; ++field) {
        at = text.find_first_not_of(' ', at);
        if (field == 22) {
            break;
        }
        at = text.find(' ', at);
    }
    if (at == std::string::npos) {
        return {};
    }
    return std::to_string(processId) + ":" + text.substr(at, text.find(' ', at) - at);
}

bool IsProgramRunning(const std::string& program) {
    if (program.empty()) {
        return false;
    }
    const std::string wanted = FoldCase(program);
    const auto matches = [&wanted](std::string path) {
        const std::size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
            path.erase(0, slash + 1);
        }
        return !path.empty() && FoldCase(path) == wanted;
    };
    const std::unique_ptr<DIR, int (*)(DIR*)> proc(opendir("/proc"), closedir);
    if (!proc) {
        return false;
    }
    while (const dirent* entry = readdir(proc.get())) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) {
            continue;
        }
        const std::string folder = std::string("/proc/") + entry->d_name + "/";
        // Readable only for our own processes unless we run as root.
        std::string image(PATH_MAX, '\0');
        const ssize_t length = readlink((folder + "exe").c_str(), image.data(), image.size());
        image.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        constexpr std::string_view kDeleted = " (deleted)";
        if (image.ends_with(kDeleted)) {
            image.resize(image.size() - kDeleted.size());
        }
        std::string argument0;
        std::getline(std::ifstream(folder + "cmdline"), argument0, '\0');
        std::string shortName;
        std::getline(std::ifstream(folder + "comm"), shortName);
        if (matches(image) || matches(argument0) || matches(shortName)) {
            return true;
        }
    }
    return false;
}

void ForwardToWaitedChildren(int request) {
    const std::lock_guard<std::mutex> lock(Waited().mutex);
    for (const pid_t child : Waited().children) {
        kill(child, request);
    }
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
