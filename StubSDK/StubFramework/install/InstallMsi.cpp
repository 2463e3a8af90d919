// Windows Installer packages through the installer's API, with the install
// bar driven by the installer's progress messages.
#include <cstdio>
#include <cstdlib>

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
std::string LogFilePath(InstallHost& host) {
    const std::string folder = KeptLogFolder(host.ProductId(), host.Log());
    if (folder.empty()) {
        return {};  // no log rather than one in a folder that is not ours
    }
    return folder + "log_" + UtcStamp() + ".txt";
}

}  // namespace

void MsiProgress::Parse(const char* text) {
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
    const auto total = static_cast<std::uint32_t>(bar_.Total());
    switch (fields[1]) {
        case 0:  // reset
            if (resets_ == 1) {
                bar_.SetTotal(static_cast<std::uint32_t>(fields[2]));
            }
            ++resets_;
            break;
        case 1:  // action information
            if (total != 0 && fields[3] != 0) {
                bar_.SetTotal(total + static_cast<std::uint32_t>(fields[2]));
            }
            break;
        case 2:  // progress report
            if (resets_ >= 2) {
                bar_.SetCurrent(static_cast<std::uint32_t>(bar_.Current()) +
                                static_cast<std::uint32_t>(fields[2]));
            }
            break;
        default:
            break;
    }
}

int MsiUiHandler(void* context, std::uint32_t messageType, const char* text) {
    auto* progress = static_cast<MsiProgress*>(context);
    const std::uint32_t type = messageType & 0xFF000000u;
    if (type == msi::kMessageProgress && text != nullptr && progress != nullptr) {
        progress->Parse(text);
    }
    return 0;  // the installer goes on with its own handling
}

ErrorHandle InstallMsi(InstallHost& host, const std::string& package, const std::string& parameters,
                       const std::string& logPath) {
    ProgressBar& bar = host.InstallBar();
    bar.SetCurrent(0);
    bar.SetTotal(1);
    MsiProgress progress(bar);

    const UiChoice ui = ChooseUi(parameters);
    const std::uint32_t previousLevel = msi::SetInternalUI(ui.level);
    const msi::ExternalUiHandler previousHandler =
        msi::SetExternalUI(&MsiUiHandler, ui.filter, &progress);
    const std::string log = logPath.empty() ? LogFilePath(host) : logPath;
    msi::EnableLog(kLogModeVerbose, log, msi::kLogAppend);

    // The UI level and the log are set through the API only; so is the log
    // path the caller may have put in place of "$LOGFILE$".
    std::string remaining = parameters;
    for (const char* text : {"/l", "$LOGFILE$", "/qn", "/qf", "/qb!"}) {
        remaining = RemoveSwitch(remaining, text);
    }
    if (!log.empty()) {
        const std::string quoted = "\"" + log + "\"";
        const std::size_t at = remaining.find(quoted);
        if (at != std::string::npos) {
            remaining.erase(at, quoted.size());
        }
    }
    debug::LogDebugMessage(host.Log(), "InstallMsi %s, parameter: %s", package.c_str(),
                           remaining.c_str());
    const std::uint32_t code = msi::InstallProduct(package, remaining);
    const ErrorHandle result = TransferInstallError(host.Log(), code);
    debug::LogDebugMessage(host.Log(), "InstallMsi %s, return %d", package.c_str(),
                           static_cast<int>(code));
    host.SetLastInstallError(code);
    bar.Fill();

    msi::SetInternalUI(previousLevel);
    msi::SetExternalUI(previousHandler, 0, nullptr);
    return result;
}

}  // namespace stubframework::core
