#include "bridge/DownloadMethods.h"

#include <cstdint>
#include <string>

#include "bridge/ExternalMethods.h"
#include "bridge/HtmlExternal.h"
#include "bridge/MethodSignature.h"
#include "core/FileChecksum.h"
#include "core/FrameworkCore.h"
#include "core/RegistryText.h"
#include "core/ResumeRecord.h"
#include "downloader/DownloadDriver.h"
#include "downloader/MonikerDownload.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/unicode.h"
#include "telemetry/WebServiceClient.h"
#include "zip/UnzipPackage.h"

namespace stubframework {
namespace {

namespace fs = platform::fs;
using methods::Log;

constexpr const char* kExtractInDownload = "__Extract_In_Download__";
constexpr const char* kExtractInProgress = "__Extract_ZIP_In_Download_Progress__";

// The folder part of a path, with its separator.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(fs::kPathSeparator);
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The last element of a URL's path, without query or fragment.
std::string UrlFileName(const std::string& url) {
    const std::string path = url.substr(0, url.find_first_of("?#"));
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A ".zip" URL is unpacked as soon as it has arrived when the page asks for
// it and does not want the download alone.
bool ExtractWhileDownloading(core::PropertyStore& properties, const std::string& url) {
    const std::size_t dot = url.find_last_of('.');
    return dot != std::string::npos &&
           platform::FoldCase(url.substr(dot)) == platform::FoldCase(".zip") &&
           properties.Get(kExtractInDownload) == "true" &&
           properties.Get("isDownloadOnly") != "true";
}

// What a file already at the target means before anything is fetched:
// NoError when it is the package, Running when it is to be (re)fetched,
// Md5Error when it is known to differ and resuming is not allowed.
ErrorHandle CheckExistingFile(const FrameworkServices* log, const DownloadRequest& request) {
    if (!fs::Exists(request.file)) {
        return ErrorHandle::Running;
    }
    debug::FrameworkDebugMessage(log, "File %s exists", request.file.c_str());
    if (request.crc.empty()) {
        return ErrorHandle::Running;
    }
    std::uint32_t crc = 0;
    const bool computed = core::FileCrc32(request.file, crc);
    const bool equal = computed && std::to_string(crc) == request.crc;
    if (request.isResume) {
        return equal ? ErrorHandle::NoError : ErrorHandle::Running;  // else resumed
    }
    if (!computed) {
        debug::FrameworkErrorMessage(log, "File %s get crc failed", request.file.c_str());
        return ErrorHandle::Running;
    }
    if (!equal) {
        debug::FrameworkErrorMessage(log, "File %s crc dismatch", request.file.c_str());
        return ErrorHandle::Md5Error;
    }
    return ErrorHandle::NoError;
}

// A checksum that cannot be computed after the transfer is only logged.
ErrorHandle CheckArrivedFile(const FrameworkServices* log, const DownloadRequest& request) {
    std::uint32_t crc = 0;
    if (request.crc.empty()) {
        return ErrorHandle::NoError;
    }
    if (!core::FileCrc32(request.file, crc)) {
        debug::FrameworkErrorMessage(log, "Downloaded File %s get crc failed",
                                     request.file.c_str());
        return ErrorHandle::NoError;
    }
    if (std::to_string(crc) != request.crc) {
        debug::FrameworkErrorMessage(log, "Downloaded File %s crc dismatch", request.file.c_str());
        return ErrorHandle::Md5Error;
    }
    return ErrorHandle::NoError;
}

// After a successful transfer: the bar shows the whole file, and the
// worker waits until the page has seen it.
void ReportTransferEnd(ProgressJob& job, core::HtmlExternal& host) {
    host.SetProgress(core::kDownloadCurrent,
                     static_cast<std::uint32_t>(host.GetProgress(core::kDownloadTotal)));
    job.WaitUntilReported();
}

// The transfer with its progress thread: the driver's result, or Md5Error
// when the arrived file is not the one the page expects.
ErrorHandle Transfer(ProgressJob& job, ExternalMethods& owner, const DownloadRequest& request) {
    core::HtmlExternal& host = owner.Dispatch();
    const std::string& target = request.file;
    job.StartProgress(DownloadProgressThreadFunc);
    ErrorHandle result =
        DownloadWithRetry(host, request.url, target, request.isSecure, request.isResume);
    if (result != ErrorHandle::NoError) {
        job.SetState(result);
        debug::FrameworkErrorMessage(Log(owner),
                                     "Download fail, download path : %s, download result : %x",
                                     target.c_str(), static_cast<unsigned>(AsNumber(result)));
    } else {
        ReportTransferEnd(job, host);
        result = CheckArrivedFile(Log(owner), request);
    }
    job.JoinProgress();
    debug::FrameworkDebugMessage(Log(owner), "Download %s finished to %s", request.url.c_str(),
                                 target.c_str());
    return result;
}

// Unpacks the arrived archive on the install progress thread and records
// where; the lock is only ever held by the state updates, so the progress
// thread keeps turning while the archive unpacks.
void ExtractArrivedArchive(ProgressJob& job, ExternalMethods& owner, const std::string& target,
                           ErrorHandle& result) {
    core::HtmlExternal& host = owner.Dispatch();
    if (result == ErrorHandle::NoError) {
        job.SetState(ErrorHandle::Running);
        job.StartProgress(InstallProgressThreadFunc);
        const core::UnzipResult unzip =
            core::UnzipPackage(host.Log(), host.ExtractionReporter(), target);
        result = unzip.result;
        if (result == ErrorHandle::NoError) {
            // The page sees the bar reach its end before the result.
            host.SetProgress(core::kInstallCurrent,
                             static_cast<std::uint32_t>(host.GetProgress(core::kInstallTotal)));
            job.WaitUntilReported();
        } else {
            job.SetState(result);
        }
        core::WriteResumeRecord(owner.Core(), target, unzip.unzipFolder, unzip.setupFolder);
        job.JoinProgress();
    }
    host.SetProgress(core::kDownloadCurrent,
                     static_cast<std::uint32_t>(host.GetProgress(core::kDownloadTotal)));
    host.Properties().Set(kExtractInProgress, "false");
}

HRESULT StartDownloadWorker(ExternalMethods& owner, std::unique_ptr<DownloadRequest> request,
                            const VARIANT& callback,
                            void (*threadFunc)(std::unique_ptr<DownloadRequest>),
                            const char* name) {
    request->owner = &owner;
    return StartWorker(
        owner, std::move(request), callback, threadFunc,
        (std::string(name) + ": CoMarshalInterThreadInterfaceInStream failed with ").c_str());
}

// The course of every download worker: the callback, the lock and record,
// the stop flag cleared (or not), the work, one final call.
void RunDownloadWorker(DownloadRequest& request, const char* name, bool clearStop,
                       ErrorHandle (*work)(ProgressJob&, ExternalMethods&,
                                           const DownloadRequest&)) {
    ComApartment apartment;
    const auto callback = WorkerPrologue(
        *request.owner, request.callback,
        (std::string(name) + " CoGetInterfaceAndReleaseStream  failed with: ").c_str());
    if (!callback) {
        return;
    }
    ExternalMethods& owner = *request.owner;
    ProgressJob job(owner.Dispatch(), callback.Get(), request.url);
    if (clearStop) {
        owner.Dispatch().SetStopDownload(0);
    }
    job.Complete(work(job, owner, request), ProgressPair::Download);
}

ErrorHandle DownloadPackage(ProgressJob& job, ExternalMethods& owner,
                            const DownloadRequest& request) {
    core::HtmlExternal& host = owner.Dispatch();
    ErrorHandle result = CheckExistingFile(Log(owner), request);
    const bool extract = ExtractWhileDownloading(host.Properties(), request.url);
    if (extract) {
        host.Properties().Set(kExtractInProgress, "true");
    }
    if (result != ErrorHandle::NoError) {
        if (fs::IsReadOnlyVolume(request.file)) {
            debug::FrameworkErrorMessage(Log(owner), "Download volume is read only %s",
                                         FolderOf(request.file).c_str());
            result = ErrorHandle::VolumeReadOnly;
        } else {
            result = Transfer(job, owner, request);
        }
    }
    if (extract) {
        ExtractArrivedArchive(job, owner, request.file, result);
    }
    return result;
}

ErrorHandle UpdateInstallerList(ProgressJob& job, ExternalMethods& owner,
                                const DownloadRequest& request) {
    core::HtmlExternal& host = owner.Dispatch();
    const std::string& target = request.file;
    const std::string temporary = InstallerListDownloadPath(target);
    job.StartProgress(DownloadProgressThreadFunc);
    ErrorHandle result =
        DownloadWithRetry(host, request.url, temporary, request.isSecure, request.isResume);
    if (result != ErrorHandle::NoError) {
        job.SetState(result);
        // What a plain transfer left is of no use; a resumable one goes on
        // from its part next time.
        if (!request.isResume) {
            fs::DeleteFile(temporary);
        }
    } else {
        ReportTransferEnd(job, host);
        if (fs::MoveReplacing(temporary, target) != platform::kErrorSuccess) {
            // The old list stays as it was; the half-way file goes.
            debug::FrameworkErrorMessage(Log(owner), "Update installerlist cannot replace %s",
                                         target.c_str());
            fs::DeleteFile(temporary);
            result = ErrorHandle::Failure;
        } else {
            debug::FrameworkDebugMessage(Log(owner), "Update installerlist %s finished to %s",
                                         request.url.c_str(), target.c_str());
        }
    }
    job.JoinProgress();
    return result;
}

ErrorHandle DownloadNewStub(ProgressJob& job, ExternalMethods& owner,
                            const DownloadRequest& request) {
    core::FrameworkCore& core = owner.Core();
    const std::string ownPath = platform::process::ExecutablePath();
    const std::string name = SelfUpdateName(request.url, fs::FileName(ownPath));
    const std::string target = FolderOf(ownPath) + name;
    const bool named = !name.empty() && name != "." && name != "..";
    ErrorHandle result = ErrorHandle::Failure;
    if (!named) {
        debug::FrameworkErrorMessage(Log(owner), "Self-update URL %s names no file",
                                     request.url.c_str());
    } else {
        core::WriteRegistryText(core.RegistryBase(), "update_stub_name", name);
        job.StartProgress(DownloadProgressThreadFunc);
        result = DownloadWithRetry(owner.Dispatch(), request.url, target, true, true);
        if (result == ErrorHandle::NoError) {
            ReportTransferEnd(job, owner.Dispatch());
        } else {
            job.SetState(result);
            if (result != ErrorHandle::Abort) {
                debug::FrameworkErrorMessage(
                    Log(owner), "Download fail, download path : %s, download result : %x",
                    target.c_str(), static_cast<unsigned>(AsNumber(result)));
            }
        }
        job.JoinProgress();
    }
    // Only a verified new stub is handed over: the launcher would run a
    // partial one and copy it over the user's launcher.
    if (result == ErrorHandle::NoError && fs::MarkExecutable(target) == platform::kErrorSuccess) {
        core.SetExitCode(kSelfUpdateExitCode);
        core::WriteRegistryText(core.RegistryBase(), "selfupdate_code",
                                std::to_string(kSelfUpdateExitCode));
    } else {
        if (named) {
            fs::DeleteFile(target);
        }
        core::DeleteRegistryValue(core.RegistryBase(), "selfupdate_code");
    }
    debug::FrameworkDebugMessage(Log(owner), "Download %s finished.", request.url.c_str());
    return result;
}

int ScriptBool(bool value) {
    return value ? -1 : 0;  // VARIANT_TRUE
}

}  // namespace

std::string InstallerListDownloadPath(const std::string& target) {
    const std::size_t nameStart = target.find_last_of(fs::kPathSeparator) + 1;
    const std::size_t dot = target.find_last_of('.');
    // A name without a dot still downloads beside the list, never onto it: a
    // transfer that failed half-way must leave the old list whole.
    if (dot == std::string::npos || dot < nameStart) {
        return target + "__NEW_FILE__";
    }
    return target.substr(0, dot) + "__NEW_FILE__" + target.substr(dot);
}

std::string SelfUpdateName(const std::string& url, const std::string& ownName) {
    std::string name = UrlFileName(url);
    if (platform::FoldCase(name) == platform::FoldCase(ownName)) {
        name = name.substr(0, name.find_last_of('.')) + "_update.exe";
    }
    return name;
}

void DownloadThreadFunc(std::unique_ptr<DownloadRequest> request) {
    RunDownloadWorker(*request, "DownloadThreadFunc", true, DownloadPackage);
}

void UpdateInstallerListThreadFunc(std::unique_ptr<DownloadRequest> request) {
    RunDownloadWorker(*request, "UpdateInstallerListThreadFunc", true, UpdateInstallerList);
}

void SelfUpdateThreadFunc(std::unique_ptr<DownloadRequest> request) {
    // A stop asked for before stays asked for.
    RunDownloadWorker(*request, "SelfUpdateThreadFunc", false, DownloadNewStub);
}

}  // namespace stubframework

namespace stubframework::methods {

HRESULT download(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* /*result*/) {
    auto request = std::make_unique<DownloadRequest>();
    request->url = StringArgument(params, 0);
    request->file = fs::FromPagePath(StringArgument(params, 1));
    request->crc = StringArgument(params, 2);
    request->isSecure = BoolArgument(params, 3);
    request->isResume = BoolArgument(params, 4);
    debug::FrameworkDebugMessage(Log(owner), "EMDownload params %d, %d, %s, %s, %s",
                                 ScriptBool(request->isResume), ScriptBool(request->isSecure),
                                 request->crc.c_str(), request->file.c_str(), request->url.c_str());
    const HRESULT hr = StartDownloadWorker(owner, std::move(request), ScriptArgument(params, 5),
                                           DownloadThreadFunc, "EMDownload");
    if (FAILED(hr)) {
        return hr;
    }
    debug::FrameworkDebugMessage(Log(owner), "EMDownload -- Finish");
    return S_OK;
}

HRESULT stopDownload(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                     VARIANT* /*result*/) {
    owner.Dispatch().SetStopDownload(1);
    return S_OK;
}

HRESULT updateInstallerList(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                            VARIANT* /*result*/) {
    auto request = std::make_unique<DownloadRequest>();
    request->url = StringArgument(params, 0);
    request->file = fs::FromPagePath(StringArgument(params, 1));
    request->isSecure = BoolArgument(params, 2);
    request->isResume = BoolArgument(params, 3);
    debug::FrameworkDebugMessage(Log(owner), "EMUpdateInstallerList %s %s %d %d",
                                 request->url.c_str(), request->file.c_str(),
                                 ScriptBool(request->isSecure), ScriptBool(request->isResume));
    const HRESULT hr = StartDownloadWorker(owner, std::move(request), ScriptArgument(params, 4),
                                           UpdateInstallerListThreadFunc, "EMUpdateInstallerList");
    if (FAILED(hr)) {
        return hr;
    }
    debug::FrameworkDebugMessage(Log(owner), "EMUpdateInstallerList -- Finish");
    return S_OK;
}

HRESULT selfUpdate(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                   VARIANT* /*result*/) {
    auto request = std::make_unique<DownloadRequest>();
    request->url = StringArgument(params, 0);
    return StartDownloadWorker(owner, std::move(request), ScriptArgument(params, 1),
                               SelfUpdateThreadFunc, "ZSUpdateSelf");
}

HRESULT initDownloadSize(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                         VARIANT* /*result*/) {
    std::string url = StringArgument(params, 0);
    const std::string temporary = fs::FromPagePath(StringArgument(params, 1)) + ".temp";
    if (BoolArgument(params, 2)) {
        core::RequestTokenizedUrl(url);  // used as it is when that fails
    }
    if (fs::IsLink(temporary)) {
        debug::FrameworkErrorMessage(Log(owner), "Size probe target %s is a link: refused",
                                     temporary.c_str());
        return S_OK;
    }
    core::HtmlExternal& host = owner.Dispatch();
    host.SetSizeProbe(1);
    core::DownloadCallback probe(host);
    core::DownloadByMoniker(url, temporary, &probe);  // aborted at the announced size
    host.SetSizeProbe(0);
    if (fs::Exists(temporary)) {
        fs::DeleteFile(temporary);
    }
    return S_OK;
}

HRESULT isNeedSelfUpdate(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                         VARIANT* result) {
    const std::string metaUrl = StringArgument(params, 0) + ".meta";
    const bool need = !IsFileSameAsRemote(platform::process::RunningImagePath(), metaUrl);
    debug::FrameworkDebugMessage(Log(owner), "EMIsNeedSelfUpdate Result: %s",
                                 need ? "need update" : "not need update");
    ReturnBool(result, need);
    return S_OK;
}

}  // namespace stubframework::methods
