// Removal and repair: an installer command line run as a child process.
#include "bridge/HtmlExternal.h"
#include "core/Framework.h"
#include "core/InstallerLog.h"
#include "install/Installers.h"

namespace stubframework::core {
namespace {

constexpr std::uint32_t kSliceMs = 200;
constexpr std::uint32_t kScale = 150;  // 30 seconds of slices

}  // namespace

ErrorHandle RunUninstall(StubFramework& framework, const std::string& commandLine) {
    HtmlExternal& host = framework.Dispatch();
    host.SetProgress(kInstallCurrent, 0);
    host.SetProgress(kInstallTotal, kScale);
    std::uint32_t exitCode = 0;
    const bool ran = RunChild(
        framework, commandLine, kSliceMs, "Uninstall",
        [](HtmlExternal& bar) {
            const auto current = static_cast<std::uint32_t>(bar.GetProgress(kInstallCurrent));
            if (current < static_cast<std::uint32_t>(bar.GetProgress(kInstallTotal))) {
                bar.SetProgress(kInstallCurrent, current + 1);
            }
        },
        exitCode);
    if (!ran) {
        return Failure;
    }
    const ErrorHandle result = TransferInstallError(framework, exitCode);
    debug::FrameworkDebugMessage(&framework, "Uninstall %s, return %d, error handler %d",
                                 commandLine.c_str(), static_cast<int>(exitCode),
                                 static_cast<int>(result));
    return result;
}

}  // namespace stubframework::core
