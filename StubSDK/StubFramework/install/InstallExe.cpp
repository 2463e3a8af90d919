// Programs and ZIP packages with a setup.exe, run as child processes.
#include "bridge/HtmlExternal.h"
#include "core/Framework.h"
#include "core/InstallerLog.h"
#include "core/TempFolder.h"
#include "install/Installers.h"
#include "platform/process.h"

#include <functional>
#include "zip/UnzipPackage.h"

namespace stubframework::core {
namespace {

constexpr std::uint32_t kSliceMs = 100;
constexpr std::size_t kMaxPath = 260;

}  // namespace

bool RunChild(StubFramework& framework, const std::string& commandLine, std::uint32_t sliceMs,
              const char* what, const std::function<void(HtmlExternal&)>& onSlice,
              std::uint32_t& exitCode) {
    platform::process::ChildProcess child;
    if (!child.Start(commandLine)) {
        debug::FrameworkErrorMessage(&framework, "%s %s, CreateProcessW failed", what,
                                     commandLine.c_str());
        return false;
    }
    HtmlExternal& host = framework.Dispatch();
    while (!child.Wait(sliceMs, exitCode)) {
        onSlice(host);
    }
    host.SetProgress(kInstallCurrent, static_cast<std::uint32_t>(host.GetProgress(kInstallTotal)));
    host.SetLastInstallError(exitCode);
    return true;
}

ErrorHandle InstallExe(StubFramework& framework, const std::string& package,
                       const std::string& parameters, std::int64_t estimate) {
    HtmlExternal& host = framework.Dispatch();
    if (estimate > 0) {
        host.SetProgress(kInstallCurrent, 0);
        host.SetProgress(kInstallTotal, 10 * static_cast<std::uint32_t>(estimate));  // tenths
    }
    const std::string commandLine = "\"" + package + "\" " + parameters;
    std::uint32_t exitCode = 0;
    const bool ran = RunChild(
        framework, commandLine, kSliceMs, "Install",
        [](HtmlExternal& bar) {
            const auto current = static_cast<std::uint32_t>(bar.GetProgress(kInstallCurrent));
            const auto total = static_cast<std::uint32_t>(bar.GetProgress(kInstallTotal));
            if (total != 0 && current < total - 1) {
                bar.SetProgress(kInstallCurrent, current + 1);
            }
        },
        exitCode);
    if (!ran) {
        return Failure;
    }
    const ErrorHandle result = TransferInstallError(framework, exitCode);
    debug::FrameworkDebugMessage(&framework, "Install %s, return %d", commandLine.c_str(),
                                 static_cast<int>(exitCode));
    return result;
}

ErrorHandle InstallZip(StubFramework& framework, const std::string& package,
                       const std::string& parameters, std::int64_t estimate) {
    HtmlExternal& host = framework.Dispatch();
    PropertyStore& properties = framework.Core().Properties();
    std::string unzipFolder;
    std::string setupFolder;
    if (properties.Get("__Extract_In_Download__") == "true") {
        // Extracted while it downloaded.
        unzipFolder = properties.Get(package + "__ZIP_Unzip_Folder__");
        setupFolder = properties.Get(package + "__ZIP_EXE_Path__");
    } else {
        const UnzipResult unzip = UnzipPackage(framework, package);
        if (unzip.result != NoError) {
            return unzip.result;
        }
        unzipFolder = unzip.unzipFolder;
        setupFolder = unzip.setupFolder;
        const auto total = static_cast<std::uint32_t>(host.GetProgress(kInstallTotal)) +
                           10 * static_cast<std::uint32_t>(estimate);
        host.SetProgress(kInstallTotal, total);
        host.SetProgress(kInstallCurrent, total / 10);  // extraction was the first tenth
    }
    const ErrorHandle result = InstallExe(framework, setupFolder + "setup.exe", parameters, 0);
    if (!unzipFolder.empty() && unzipFolder.size() < kMaxPath) {
        DeleteFolderTree(unzipFolder);
    }
    return result;
}

}  // namespace stubframework::core
