// A scratch world for running the installer's executables: its own
// temporary folder, registry store, runtime folder and install root.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/TestFolder.h"

namespace stubtest {

class Sandbox {
public:
    Sandbox();

    // The environment assignments that put a child into the sandbox.
    std::string Environment() const;
    // More assignments for the children to come ("NAME='value' ..."), and a
    // shell command run before each ("umask 000").
    void AddEnvironment(const std::string& assignments) { extra_ += " " + assignments; }
    void SetShellPrefix(const std::string& command) { prefix_ = command; }
    // Runs `program` (a name in the build's bin folder or a path) with the
    // arguments (shell syntax) and waits: its exit status, -1 for a signal.
    int Run(const std::string& program, const std::string& arguments = "") const;
    // Starts it without waiting; Wait gives the exit status.
    pid_t Start(const std::string& program, const std::string& arguments = "") const;
    static int Wait(pid_t child);

    const std::string& Tmp() const { return tmp_.Path(); }
    const std::string& Runtime() const { return runtime_.Path(); }
    std::vector<std::string> TmpEntries() const;
    // The logs kept in <tmp>/Brindlemark_log, in name order.
    std::vector<std::string> KeptLogs() const;

    static std::string BinPath(const std::string& program);

private:
    std::string Command(const std::string& program, const std::string& arguments) const;

    std::string extra_;
    std::string prefix_;
    TestFolder tmp_;
    TestFolder registry_;
    TestFolder runtime_;
    // Where the children install and keep machine-wide data.
    TestFolder installRoot_;
    // This process reads and writes the same registry store as its children.
    ScopedEnv registryDir_;
};

}  // namespace stubtest
