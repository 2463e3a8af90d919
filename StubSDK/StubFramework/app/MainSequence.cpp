#include "app/MainSequence.h"

#include <atomic>
#include <cstdlib>

#include "StubFramework.h"
#include "core/CommandLine.h"
#include "core/RegistryText.h"
#include "core/ResumeRecord.h"
#include "core/TempFolder.h"
#include "core/WorkingCopy.h"
#include "htmlui/HostWindow.h"
#include "platform/commandline.h"
#include "platform/endrequest.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/instance.h"
#include "platform/process.h"
#include "platform/window.h"
#include "platform/windowthread.h"

namespace stubframework {
namespace {

namespace fs = platform::fs;

constexpr const char* kMutexName = "ZelvoStubFramework";
constexpr const char* kWindowClass = "HTMLUI";
constexpr std::uint32_t kWorkerGraceMs = 60000;

// The first request to end the program (a signal number), 0 while none came.
std::atomic<int> endRequest{0};

// SIGTERM, SIGHUP and SIGINT close the window, so the normal end runs. A
// launcher passes the requests sent to it on to its working copy; what the
// terminal raises reaches the whole process group, the working copy too.
void OnEndRequest(int request, platform::EndRequestSource source) {
    if (source == platform::EndRequestSource::kSent) {
        platform::process::ForwardToWaitedChildren(request);
    }
    int none = 0;
    if (endRequest.compare_exchange_strong(none, request)) {
        platform::window::RequestEnd();
    }
}

void DumpProperties(StubFramework& framework) {
    for (const auto& [name, value] : framework.Core().Properties().Snapshot()) {
        debug::LogDebugMessage(framework.Log(), "Property %s: %s\n", name.c_str(), value.c_str());
    }
}

void DeleteExtractionFolders(core::FrameworkCore& core) {
    for (const auto& [name, value] : core.Properties().Snapshot()) {
        if (name.find(core::kUnzipFolderSuffix) != std::string::npos) {
            core::DeleteFolderTree(value);
        }
    }
}

// The folder the pages are shown from, with a trailing separator; empty when
// there are none. STUB_PAGES_DIR shows a page folder as it is instead of the
// pages packed into the executable, for page authors and tests.
std::string PageFolder(const StubFramework& framework) {
    std::string folder = platform::process::EnvironmentVariable("STUB_PAGES_DIR");
    if (folder.empty() || !fs::IsFolder(folder)) {
        return framework.Pages().Loaded() ? framework.Pages().Folder() : std::string();
    }
    if (folder.back() != fs::kPathSeparator) {
        folder += fs::kPathSeparator;
    }
    return folder;
}

}  // namespace

namespace core {

std::int32_t AdjustStatus(std::int32_t status, const std::string& uninstallOption) {
    if (status > AsNumber(Config_Status::CANCEL)) {
        return status;
    }
    std::int32_t adjusted =
        status == AsNumber(Config_Status::NOTSTART) ? AsNumber(Config_Status::CANCEL) : status;
    if (uninstallOption == "Modify") {
        adjusted += 70;
    } else if (uninstallOption == "Repair") {
        adjusted += 80;
    } else if (uninstallOption == "Remove") {
        adjusted += 90;
    }
    return adjusted;
}

}  // namespace core

std::unique_ptr<StubFramework> Start(const core::ProductValues& product) {
    platform::HandleEndRequests(OnEndRequest);
    if (core::RunWorkingCopy(product.productId, product.version) == core::GateResult::Stop) {
        return nullptr;
    }
    std::unique_ptr<platform::InstanceMutex> mutex = platform::CreateInstanceMutex(kMutexName);
    if (mutex && mutex->AlreadyExisted()) {
        platform::ActivateExistingWindow(kMutexName, kWindowClass);
        return nullptr;
    }
    auto framework = std::make_unique<StubFramework>(product, std::move(mutex));
    debug::LogDebugMessage(framework->Log(), "Command line: %s",
                           platform::RawCommandLine().c_str());
    // What the launcher met on its way here (a temporary folder that runs nothing).
    if (const std::string notes = platform::process::EnvironmentVariable(core::kLauncherNotes);
        !notes.empty()) {
        debug::LogErrorMessage(framework->Log(), "%s", notes.c_str());
        platform::process::SetEnvironmentVariable(core::kLauncherNotes, "");
    }
    // Only one run at a time gets here (the mutex): what others left is theirs no more.
    core::RemoveAbandonedTempFolders(framework->Log());
    framework->ListenForActivation();
    return framework;
}

void Run(StubFramework& framework, ExternalMethods& methods) {
    core::FrameworkCore& core = framework.Core();
    core::HtmlExternal& dispatch = framework.Dispatch();
    dispatch.BuildDispatchTable(methods);
    const std::string pages = PageFolder(framework);
    if (!pages.empty()) {
        core.Properties().Set("resourceLocation", pages);
    }
    // Before the first page, and also when there is none to show.
    framework.Reports().ReportStart();
    platform::OpenWindowThread();
    if (pages.empty()) {
        core.SetStatus(AsNumber(Config_Status::ERROR));  // nothing to show: the run is a failure
    } else {
        // A window that cannot be made is logged; the status stays as it was.
        const std::string backend = core::GetArgumentValue(core::CommandLineArguments(), "--ui");
        htmlui::RunHostWindow(pages, dispatch, dispatch.ScriptMethods(), backend, framework.Log());
    }
    // The page is gone: calls from workers still running are dropped.
    platform::CloseWindowThread();
    if (const int request = endRequest.load(); request != 0) {
        debug::LogDebugMessage(framework.Log(), "Asked to end by signal %d: the window is closed",
                               request);
    }

    const std::int32_t status = core.Status();
    if (status <= AsNumber(Config_Status::CANCEL)) {
        core.SetStatus(core::AdjustStatus(status, core.Properties().Get("uninstallOption")));
    }
    framework.Reports().ReportStatus();
    // Found before the log may close: a refused folder is logged.
    const std::string keptLogs = core::KeptLogFolder(core.ProductId(), framework.Log());
    if (status == AsNumber(Config_Status::ERROR)) {
        DumpProperties(framework);
        framework.Log()->Close();
        core.AttachedFiles().Attach(framework.Log()->FilePath());
        framework.Reports().SendErrorReport();
    }
    // The log's own folder goes with the framework; this copy is the one that lasts.
    core::KeepLogCopy(framework.Log(), keptLogs);
    DeleteExtractionFolders(core);
}

void Teardown(std::unique_ptr<StubFramework> framework) {
    core::FrameworkCore& core = framework->Core();
    std::string text;
    if (core.ExitCode() == core::kUnset &&
        core::ReadRegistryText(core.RegistryBase(), "selfupdate_code", text)) {
        core.SetExitCode(static_cast<std::int32_t>(std::strtol(text.c_str(), nullptr, 10)));
    }
    const std::int32_t exitCode = core.ExitCode();
    // Workers must not outlive the framework: ask downloads to stop and wait.
    core::HtmlExternal& dispatch = framework->Dispatch();
    dispatch.SetStopDownload(1);
    dispatch.SetVerifyActive(false);
    if (!dispatch.WaitForWorkers(kWorkerGraceMs)) {
        debug::LogErrorMessage(framework->Log(), "Workers still running at exit, ending now");
        platform::process::ExitProcess(
            static_cast<std::uint32_t>(exitCode == core::kUnset ? 0 : exitCode));
    }
    framework.reset();
    if (exitCode == kSelfUpdateExitCode) {
        platform::process::ExitProcess(kSelfUpdateExitCode);
    }
}

}  // namespace stubframework
