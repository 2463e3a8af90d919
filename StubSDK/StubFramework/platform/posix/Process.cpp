#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/process.h"

namespace stubframework::platform::process {
namespace {

std::vector<std::string>& StoredArguments() {
    static std::vector<std::string> arguments;
    return arguments;
}

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

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(getpid());
}

void ExitProcess(std::uint32_t exitCode) {
    std::fflush(nullptr);
    _exit(static_cast<int>(exitCode & 0xFF));
}

std::string EnvironmentVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : std::string();
}

}  // namespace stubframework::platform::process
