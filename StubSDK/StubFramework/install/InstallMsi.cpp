// Windows Installer packages through the installer's API, with the install
// bar driven by the installer's progress messages.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "bridge/HtmlExternal.h"
#include "core/Framework.h"
#include "core/InstallerLog.h"
#include "core/TempFolder.h"
#include "install/Installers.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/msi.h"

namespace stubframework::core {
namespace {

namespace msi = platform::msi;

constexpr std::uint32_t kLogModeVerbose = 0x1FDF;

// Resets seen in the current installation: the second one carries the total.
std::atomic<std::int32_t> progressResets{0};

struct UiChoice {
    std::uint32_t level;
    std::uint32_t filter;
};

UiChoice ChooseUi(const std::string& parameters) {
    if (HasSwitch(parameters, "/QN")) {
        return {msi::kUiNone, msi::kLogModeProgress};
    }
    if (HasSwitch(parameters, "/QF")) {
        return {msi::kUiFull, msi::kLogModeTerminate};
    }
    if (HasSwitch(parameters, "/QB!")) {
        return {msi::kUiBasic | msi::kUiHideCancel, msi::kLogModeProgress};
    }
    return {msi::kUiDefault, 0};
}

// "<temp><product>_log/log_<UTC time>.txt", its folder created.
std::string LogFilePath(StubFramework& framework) {
    const std::string folder =
        LongTempPath() + framework.Core().ProductId() + "_log" + platform::fs::kPathSeparator;
    platform::fs::CreateFolderTree(folder);
    const platform::SystemTime now = platform::UtcNow();
    char name[64];
    std::snprintf(name, sizeof name, "log_%4d%02d%02d%02d%02d%02d.txt", now.year, now.month,
                  now.day, now.hour, now.minute, now.second);
    return folder + name;
}

}  // namespace

void ResetMsiProgressCounter() {
    progressResets = 0;
}

void ParseMsiProgress(HtmlExternal& host, const char* text) {
    std::int64_t fields[4] = {0, 0, 0, 0};
    const char* at = text;
    for (;;) {
        char* end = nullptr;
        const long label = std::strtol(at, &end, 10);
        if (end == at || *end != ':' || label < 0 || label > 3) {
            break;  // the first label above 3 (or no label) ends the reading
        }
        at = end + 1;
        const long long value = std::strtoll(at, &end, 10);
        if (end == at) {
            break;
        }
        fields[label] = value;
        at = end;
    }
    const auto total = static_cast<std::uint32_t>(host.GetProgress(kInstallTotal));
    switch (fields[1]) {
        case 0:  // reset
            if (progressResets == 1) {
                host.SetProgress(kInstallTotal, static_cast<std::uint32_t>(fields[2]));
            }
            ++progressResets;
            break;
        case 1:  // action information
            if (total != 0 && fields[3] != 0) {
                host.SetProgress(kInstallTotal, total + static_cast<std::uint32_t>(fields[2]));
            }
            break;
        case 2:  // progress report
            if (progressResets >= 2) {
                host.SetProgress(kInstallCurrent,
                                 static_cast<std::uint32_t>(host.GetProgress(kInstallCurrent)) +
                                     static_cast<std::uint32_t>(fields[2]));
            }
            break;
        default:
            break;
    }
}

int MsiUiHandler(void* context, std::uint32_t messageType, const char* text) {
    auto* host = static_cast<HtmlExternal*>(context);
    const std::uint32_t type = messageType & 0xFF000000u;
    if (type == msi::kMessageProgress && text != nullptr && host != nullptr) {
        ParseMsiProgress(*host, text);
    }
    return 0;  // the installer goes on with its own handling
}

ErrorHandle InstallMsi(StubFramework& framework, const std::string& package,
                       const std::string& parameters) {
    HtmlExternal& host = framework.Dispatch();
    host.SetProgress(kInstallCurrent, 0);
    host.SetProgress(kInstallTotal, 1);
    ResetMsiProgressCounter();

    const UiChoice ui = ChooseUi(parameters);
    const std::uint32_t previousLevel = msi::SetInternalUI(ui.level);
    const msi::ExternalUiHandler previousHandler =
        msi::SetExternalUI(&MsiUiHandler, ui.filter, &host);
    msi::EnableLog(kLogModeVerbose, LogFilePath(framework), msi::kLogAppend);

    // The UI level and the log are set through the API only.
    std::string remaining = parameters;
    for (const char* text : {"/l", "$LOGFILE$", "/qn", "/qf", "/qb!"}) {
        remaining = RemoveSwitch(remaining, text);
    }
    debug::FrameworkDebugMessage(&framework, "InstallMsi %s, parameter: %s", package.c_str(),
                                 remaining.c_str());
    const std::uint32_t code = msi::InstallProduct(package, remaining);
    const ErrorHandle result = TransferInstallError(framework, code);
    debug::FrameworkDebugMessage(&framework, "InstallMsi %s, return %d", package.c_str(),
                                 static_cast<int>(code));
    host.SetLastInstallError(code);
    host.SetProgress(kInstallCurrent, static_cast<std::uint32_t>(host.GetProgress(kInstallTotal)));

    msi::SetInternalUI(previousLevel);
    msi::SetExternalUI(previousHandler, 0, &host);
    return result;
}

}  // namespace stubframework::core
