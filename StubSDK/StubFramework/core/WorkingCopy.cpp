#include "core/WorkingCopy.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/InstallerLog.h"
#include "core/RegistryText.h"
#include "core/TempFolder.h"
#include "platform/commandline.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace stubframework::core {
namespace {

namespace fs = platform::fs;
namespace process = platform::process;

// Where a working copy may run from, in this order: the temporary folder,
// the user's runtime folder, the user's cache folder. A temporary folder
// mounted noexec runs nothing.
std::vector<std::string> WorkingCopyBases() {
    std::vector<std::string> bases{LongTempPath()};
    const std::string runtime = process::EnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.empty() && runtime.front() == '/') {
        bases.push_back(runtime + fs::kPathSeparator);
    }
    std::string cache = process::EnvironmentVariable("XDG_CACHE_HOME");
    if (cache.empty() || cache.front() != '/') {
        const std::string home = process::EnvironmentVariable("HOME");
        cache = home.empty() ? std::string() : home + "/.cache";
    }
    if (!cache.empty()) {
        const std::string folder = cache + "/stubframework";
        if (fs::CreateFolderTree(folder) == platform::kErrorSuccess) {
            bases.push_back(folder + fs::kPathSeparator);
        }
    }
    return bases;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

// No working copy could start: say why in a kept log and end with a failure.
[[noreturn]] void GiveUp(const std::string& productId, const std::vector<std::string>& notes) {
    {
        debug::InstallerLog log;
        for (const std::string& note : notes) {
            debug::LogErrorMessage(&log, "%s", note.c_str());
        }
        debug::LogErrorMessage(&log, "No working copy could start; the installer ends");
        KeepLogCopy(&log, KeptLogFolder(productId, &log));
    }
    process::ExitProcess(1);
}

std::uint32_t DecimalValue(const std::string& text) {
    return static_cast<std::uint32_t>(std::strtol(text.c_str(), nullptr, 10));
}

std::string QuotedShortcut(const std::string& path) {
    return " shortcut=\"" + path + "\"";
}

// Puts the running executable in place of the launcher's file. The new copy
// is written beside the launcher and renamed over it, so the user is never
// left without a launcher, whatever fails on the way.
void ReplaceLauncher(const std::string& launcher, std::uint32_t parentProcessId) {
    process::WaitForProcessExit(parentProcessId);
    const std::string staged = launcher + ".new-" + std::to_string(process::CurrentProcessId());
    if (fs::CopyFile(process::RunningImagePath(), staged, false) != platform::kErrorSuccess) {
        fs::DeleteFile(staged);
        return;
    }
    if (fs::MoveReplacing(staged, launcher) != platform::kErrorSuccess) {
        fs::DeleteFile(staged);
    }
}

// newVersionExitCode= and parentProcessID=: this process is the new version
// taking the launcher's place. It always ends here.
void ReplaceOriginalStub(const Arguments& arguments) {
    const std::string exitCode = GetArgumentValue(arguments, "newVersionExitCode");
    const std::string parent = GetArgumentValue(arguments, "parentProcessID");
    if (exitCode.empty() || parent.empty()) {
        return;
    }
    std::string launcher;
    if (fs::Exists(process::RunningImagePath()) && ShortcutPath(arguments, launcher) &&
        fs::Exists(launcher) && !fs::IsFolder(launcher)) {
        ReplaceLauncher(launcher, DecimalValue(parent));
        // The launcher, ended now, ran us from its per-run folder and could
        // not remove a running program (Windows): the folder is ours to
        // leave to the next run's sweep.
        const std::string image = process::ExecutablePath();
        AdoptTempFolder(image.substr(0, image.find_last_of(fs::kPathSeparator) + 1));
    }
    process::ExitProcess(DecimalValue(exitCode));
}

// Runs the new version N that the working copy left in `folder`: once to
// show the wizard, once more to take the launcher's place after we end.
void HandOverSelfUpdate(const std::string& folder, const std::string& registryBase,
                        const std::string& commandLine) {
    std::string name;
    if (!ReadRegistryText(registryBase, "update_stub_name", name)) {
        return;
    }
    const std::string newVersion = folder + name;
    if (!fs::Exists(newVersion)) {
        return;
    }
    // Handed over once: neither the new version nor a later run may end
    // with the update code again.
    DeleteRegistryValue(registryBase, "selfupdate_code");
    DeleteRegistryValue(registryBase, "update_stub_name");
    const std::uint32_t exitCode = RunChild(newVersion, commandLine, folder, true);
    RunChild(newVersion,
             commandLine + " newVersionExitCode=" + std::to_string(exitCode) +
                 " parentProcessID=" + std::to_string(process::CurrentProcessId()),
             folder, false);
}

}  // namespace

std::uint32_t RunChild(const std::string& application, const std::string& commandLine,
                       const std::string& currentDirectory, bool wait) {
    std::uint32_t exitCode = 0;
    if (!process::RunProcess(application, commandLine, currentDirectory, wait, exitCode)) {
        return 0;
    }
    return wait ? exitCode : 0;
}

bool IsSelfUpdateExitCode(std::uint32_t exitCode, const std::string& registryBase) {
    constexpr auto kCode = static_cast<std::uint32_t>(kSelfUpdateExitCode);
    if (exitCode != (kCode & process::kExitCodeMask)) {
        return false;
    }
    if (process::kExitCodeMask == 0xFFFFFFFFu) {
        return true;
    }
    std::string stored;
    return ReadRegistryText(registryBase, "selfupdate_code", stored) && stored == "197800";
}

GateResult RunWorkingCopy(const std::string& productId, const std::string& version) {
    process::PreloadSystemLibrary("lpk.dll");

    const std::string executable = process::ExecutablePath();
    if (fs::Exists(executable + ".local")) {
        process::ExitProcess(1);
    }

    const Arguments& arguments = CommandLineArguments();
    ReplaceOriginalStub(arguments);
    if (IsWorkingCopy(arguments)) {
        return GateResult::Continue;
    }

    // The launcher: run a working copy from a fresh folder, the temporary
    // one unless it cannot run programs.
    std::vector<std::string> notes;
    for (const std::string& base : WorkingCopyBases()) {
        std::string folder;
        if (!CreateUniqueFolderIn(base, folder)) {
            notes.push_back("No folder for a working copy can be made in " + base);
            continue;
        }
        const std::string copy = folder + fs::FileName(executable);
        const std::string& raw = platform::RawCommandLine();
        std::uint32_t exitCode = 0;
        process::SetEnvironmentVariable(kLauncherNotes, JoinLines(notes));
        const bool ran =
            fs::CopyFile(process::RunningImagePath(), copy, true) == platform::kErrorSuccess &&
            process::RunProcess(copy, raw + " run=1" + QuotedShortcut(executable), folder, true,
                                exitCode);
        process::SetEnvironmentVariable(kLauncherNotes, "");
        if (!ran) {
            notes.push_back("The working copy " + copy + " could not start");
            DeleteFolderTree(folder);
            continue;
        }
        const std::string registryBase = StubRegistryKey(productId, version);
        if (IsSelfUpdateExitCode(exitCode, registryBase)) {
            HandOverSelfUpdate(folder, registryBase,
                               raw + " run=1 update=0" + QuotedShortcut(executable));
        }
        DeleteFolderTree(folder);
        return GateResult::Stop;
    }
    GiveUp(productId, notes);
}

}  // namespace stubframework::core
