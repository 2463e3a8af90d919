#include "core/WorkingCopy.h"

#include <cstdlib>

#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
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

    // The launcher: run a working copy from a fresh temporary folder.
    std::string folder;
    if (!CreateUniqueTempFolder(folder)) {
        return GateResult::Stop;
    }
    const std::string copy = folder + fs::FileName(executable);
    if (fs::CopyFile(process::RunningImagePath(), copy, true) == platform::kErrorSuccess) {
        const std::string& raw = platform::RawCommandLine();
        const std::uint32_t exitCode =
            RunChild(copy, raw + " run=1" + QuotedShortcut(executable), folder, true);
        const std::string registryBase = StubRegistryKey(productId, version);
        if (IsSelfUpdateExitCode(exitCode, registryBase)) {
            HandOverSelfUpdate(folder, registryBase,
                               raw + " run=1 update=0" + QuotedShortcut(executable));
        }
    }
    DeleteFolderTree(folder);
    return GateResult::Stop;
}

}  // namespace stubframework::core
