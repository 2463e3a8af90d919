// The install engine: Windows Installer packages, programs and ZIP packages
// with setup.exe, removal and repair, each keeping the install bar
// ("installTotal", "installCurrent") moving and answering one result code.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "StubFramework.h"
#include "install/InstallHost.h"

namespace stubframework::core {

// An installer's or program's code as the page sees it (logged first).
ErrorHandle TransferInstallError(debug::InstallerLog* log, std::uint32_t code);

// True when one argument of `parameters` equals `name`, ignoring case.
bool HasSwitch(const std::string& parameters, const std::string& name);
// Removes every argument that begins with `text` (ignoring case), up to the
// next blank. An argument begins at the start or after a blank, and its text
// after an opening quotation mark.
std::string RemoveSwitch(const std::string& parameters, const std::string& text);

// Installs a ".msi" package through the installer's API: UI level and
// progress filter from the switches, the log at `logPath` (a fresh one in the
// product's log folder when empty).
ErrorHandle InstallMsi(InstallHost& host, const std::string& package, const std::string& parameters,
                       const std::string& logPath = {});

// The install bar of one installation, moved by the installer's progress
// messages ("1: a 2: b 3: c"): the second reset carries the total, action
// information may add to it, progress reports move the current value.
class MsiProgress {
public:
    explicit MsiProgress(ProgressBar& bar) : bar_(bar) {}
    void Parse(const char* text);

private:
    ProgressBar& bar_;
    std::int32_t resets_ = 0;  // seen in this installation
};

// The external UI handler, with an MsiProgress as its context.
int MsiUiHandler(void* context, std::uint32_t messageType, const char* text);

// Runs a program and waits; with an estimate in seconds the bar moves one
// tenth a second until one short of its end.
ErrorHandle InstallExe(InstallHost& host, const std::string& package, const std::string& parameters,
                       std::int64_t estimate);
// Extracts a ZIP package (or takes what its download extracted), runs its
// setup.exe and removes the extraction folder.
ErrorHandle InstallZip(InstallHost& host, const std::string& package, const std::string& parameters,
                       std::int64_t estimate);

// Runs a child from a command line, calling `onSlice` after every `sliceMs`
// it is still running; at its end the bar is full and its code is the host's
// last result. False (with "<what> <command line>, CreateProcessW failed"
// logged) when it cannot start.
bool RunChild(InstallHost& host, const std::string& commandLine, std::uint32_t sliceMs,
              const char* what, const std::function<void(ProgressBar&)>& onSlice,
              std::uint32_t& exitCode);

// Runs a removal or repair command line; the bar fills over 30 seconds.
ErrorHandle RunUninstall(InstallHost& host, const std::string& commandLine);

}  // namespace stubframework::core
