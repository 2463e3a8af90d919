// Removal and repair: an installer command line run as a child process.
#include "core/InstallerLog.h"
#include "install/Installers.h"

namespace stubframework::core {
namespace {

constexpr std::uint32_t kSliceMs = 200;
constexpr std::uint32_t kScale = 150;  // 30 seconds of slices

}  // namespace

ErrorHandle RunUninstall(InstallHost& host, const std::string& commandLine) {
    host.InstallBar().SetCurrent(0);
    host.InstallBar().SetTotal(kScale);
    std::uint32_t exitCode = 0;
    const bool ran = RunChild(
        host, commandLine, kSliceMs, "Uninstall",
        [](ProgressBar& bar) {
            const auto current = static_cast<std::uint32_t>(bar.Current());
            if (current < static_cast<std::uint32_t>(bar.Total())) {
                bar.SetCurrent(current + 1);
            }
        },
        exitCode);
    if (!ran) {
        return ErrorHandle::Failure;
    }
    const ErrorHandle result = TransferInstallError(host.Log(), exitCode);
    debug::LogDebugMessage(host.Log(), "Uninstall %s, return %d, error handler %d",
                           commandLine.c_str(), static_cast<int>(exitCode),
                           static_cast<int>(result));
    return result;
}

}  // namespace stubframework::core
