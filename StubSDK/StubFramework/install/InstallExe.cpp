// Programs and ZIP packages with a setup.exe, run as child processes.
#include <functional>

#include "core/InstallerLog.h"
#include "core/TempFolder.h"
#include "install/Installers.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "zip/UnzipPackage.h"

namespace stubframework::core {
namespace {

constexpr std::uint32_t kSliceMs = 100;
constexpr std::size_t kMaxPath = 260;

}  // namespace

bool RunChild(InstallHost& host, const std::string& commandLine, std::uint32_t sliceMs,
              const char* what, const std::function<void(ProgressBar&)>& onSlice,
              std::uint32_t& exitCode) {
    platform::process::ChildProcess child;
    if (!child.Start(commandLine)) {
        debug::LogErrorMessage(host.Log(), "%s %s, CreateProcessW failed", what,
                               commandLine.c_str());
        return false;
    }
    ProgressBar& bar = host.InstallBar();
    while (!child.Wait(sliceMs, exitCode)) {
        onSlice(bar);
    }
    bar.Fill();
    host.SetLastInstallError(exitCode);
    return true;
}

ErrorHandle InstallExe(InstallHost& host, const std::string& package, const std::string& parameters,
                       std::int64_t estimate) {
    if (estimate > 0) {
        host.InstallBar().SetCurrent(0);
        host.InstallBar().SetTotal(10 * static_cast<std::uint32_t>(estimate));  // tenths
    }
    const std::string commandLine = "\"" + package + "\" " + parameters;
    std::uint32_t exitCode = 0;
    const bool ran = RunChild(
        host, commandLine, kSliceMs, "Install",
        [](ProgressBar& bar) {
            const auto current = static_cast<std::uint32_t>(bar.Current());
            const auto total = static_cast<std::uint32_t>(bar.Total());
            if (total != 0 && current < total - 1) {
                bar.SetCurrent(current + 1);
            }
        },
        exitCode);
    if (!ran) {
        return ErrorHandle::Failure;
    }
    const ErrorHandle result = TransferInstallError(host.Log(), exitCode);
    debug::LogDebugMessage(host.Log(), "Install %s, return %d", commandLine.c_str(),
                           static_cast<int>(exitCode));
    return result;
}

ErrorHandle InstallZip(InstallHost& host, const std::string& package, const std::string& parameters,
                       std::int64_t estimate) {
    PropertyStore& properties = host.Properties();
    std::string unzipFolder;
    std::string setupFolder;
    if (properties.Get("__Extract_In_Download__") == "true") {
        // Extracted while it downloaded.
        unzipFolder = properties.Get(package + "__ZIP_Unzip_Folder__");
        setupFolder = properties.Get(package + "__ZIP_EXE_Path__");
    } else {
        const UnzipResult unzip = UnzipPackage(host.Log(), host.ExtractionReporter(), package);
        if (unzip.result != ErrorHandle::NoError) {
            return unzip.result;
        }
        unzipFolder = unzip.unzipFolder;
        setupFolder = unzip.setupFolder;
        ProgressBar& bar = host.InstallBar();
        const auto total =
            static_cast<std::uint32_t>(bar.Total()) + 10 * static_cast<std::uint32_t>(estimate);
        bar.SetTotal(total);
        bar.SetCurrent(total / 10);  // extraction was the first tenth
    }
    // Archives carry no reliable mode bits: the setup program is made runnable.
    std::string setup = FileInFolder(setupFolder, "setup.exe");
    if (setup.empty()) {
        setup = setupFolder + "setup.exe";  // fails to start, and says so
    } else {
        platform::fs::MarkExecutable(setup);
    }
    const ErrorHandle result = InstallExe(host, setup, parameters, 0);
    if (!unzipFolder.empty() && unzipFolder.size() < kMaxPath) {
        DeleteFolderTree(unzipFolder);
    }
    return result;
}

}  // namespace stubframework::core
