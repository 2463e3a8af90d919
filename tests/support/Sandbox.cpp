#include "support/Sandbox.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace stubtest {

namespace stdfs = std::filesystem;

Sandbox::Sandbox() : registryDir_("STUB_REGISTRY_DIR", registry_.Path()) {}

std::string Sandbox::BinPath(const std::string& program) {
    return program.find('/') == std::string::npos ? std::string(STUB_BIN_DIR) + "/" + program
                                                  : program;
}

// Reports go to a refused port and a restart is a no-op unless a test says
// otherwise (its assignments come later and win), however the suite is run.
std::string Sandbox::Environment() const {
    return "TMPDIR='" + tmp_.Path() + "' STUB_REGISTRY_DIR='" + registry_.Path() +
           "' XDG_RUNTIME_DIR='" + runtime_.Path() + "' STUB_INSTALL_ROOT='" + installRoot_.Path() +
           "' STUB_WEBSERVICE_URL='https://127.0.0.1:9' STUB_REBOOT_COMMAND=true" + extra_;
}

std::string Sandbox::Command(const std::string& program, const std::string& arguments) const {
    return Environment() + " '" + BinPath(program) + "' " + arguments + " >/dev/null 2>&1";
}

int Sandbox::Run(const std::string& program, const std::string& arguments) const {
    const std::string prefix = prefix_.empty() ? std::string() : prefix_ + "; ";
    const int status = std::system((prefix + Command(program, arguments)).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

pid_t Sandbox::Start(const std::string& program, const std::string& arguments) const {
    const std::string prefix = prefix_.empty() ? std::string() : prefix_ + "; ";
    const std::string command = prefix + "exec env " + Command(program, arguments);
    const pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return child;
}

int Sandbox::Wait(pid_t child) {
    int status = 0;
    if (waitpid(child, &status, 0) != child) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Sandbox::TmpEntries() const {
    std::vector<std::string> names;
    for (const auto& entry : stdfs::directory_iterator(tmp_.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Sandbox::KeptLogs() const {
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : stdfs::directory_iterator(tmp_ / "Brindlemark_log", error)) {
        paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> logs;
    for (const std::string& path : paths) {
        logs.push_back(ReadFile(path));
    }
    return logs;
}

}  // namespace stubtest
