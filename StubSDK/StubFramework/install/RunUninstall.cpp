// Removal and repair: an installer command line run as a child process.
#include "bridge/HtmlExternal.h"
#include "core/Framework.h"
#include "core/InstallerLog.h"
#include "install/Installers.h"
#include "platform/process.h"

namespace stubframework::core {
namespace {

constexpr std::uint32_t kSliceMs = 200;
constexpr std::uint32_t kScale = 150;  // 30 seconds of slices

}  // namespace

ErrorHandle RunUninstall(StubFramework& framework, const std::string& commandLine) {
    HtmlExternal& host = framework.Dispatch();
    host.SetProgress(kInstallCurrent, 0);
    host.SetProgress(kInstallTotal, kScale);
    platform::process::ChildProcess child;
    if (!child.Start(commandLine)) {
        debug::FrameworkErrorMessage(&framework, "Uninstall %s, CreateProcessW failed",
                                     commandLine.c_str());
        return Failure;
    }
    std::uint32_t exitCode = 0;
    while (!child.Wait(kSliceMs, exitCode)) {
        const auto current = static_cast<std::uint32_t>(host.GetProgress(kInstallCurrent));
        if (current < static_cast<std::uint32_t>(host.GetProgress(kInstallTotal))) {
            host.SetProgress(kInstallCurrent, current + 1);
        }
    }
    host.SetProgress(kInstallCurrent, static_cast<std::uint32_t>(host.GetProgress(kInstallTotal)));
    const ErrorHandle result = TransferInstallError(framework, exitCode);
    debug::FrameworkDebugMessage(&framework, "Uninstall %s, return %d, error handler %d",
                                 commandLine.c_str(), static_cast<int>(exitCode),
                                 static_cast<int>(result));
    host.SetLastInstallError(exitCode);
    return result;
}

}  // namespace stubframework::core
