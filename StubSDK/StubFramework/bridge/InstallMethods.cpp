#include "bridge/InstallMethods.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/ExternalMethods.h"
#include "bridge/HtmlExternal.h"
#include "bridge/MethodSignature.h"
#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/RegistryText.h"
#include "core/ResumeRecord.h"
#include "core/TempFolder.h"
#include "install/Installers.h"
#include "platform/crypto.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/unicode.h"

namespace stubframework {
namespace {

namespace fs = platform::fs;
using methods::Log;

constexpr const char* kFallbackGuid = "9C744C24-0382-430A-AF86-F520008F5C6F";
constexpr const char* kUninstallKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// An uninstall command longer than this is no command a vendor writes.
constexpr std::size_t kMaxCommandBytes = std::size_t{32} * 1024;

enum class PackageKind { kMsi, kExe, kZip, kUnsupported };

PackageKind KindOf(const std::string& package) {
    const std::string name = fs::FileName(package);
    const std::size_t dot = name.find_last_of('.');
    const std::string extension =
        dot == std::string::npos ? std::string() : platform::FoldCase(name.substr(dot));
    if (extension == platform::FoldCase(".msi")) {
        return PackageKind::kMsi;
    }
    if (extension == platform::FoldCase(".exe")) {
        return PackageKind::kExe;
    }
    return extension == platform::FoldCase(".zip") ? PackageKind::kZip : PackageKind::kUnsupported;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The launcher's path, as the installers are to call it back.
std::string ShortcutArgument() {
    std::string path;
    core::ShortcutPath(core::CommandLineArguments(), path);
    return path;
}

// Puts the run's GUID into the launch-on-exit command, that command into the
// parameters, and both into the record a resumed run reads back.
std::string ApplyLaunchOnExit(core::FrameworkCore& core, std::string parameters) {
    std::string guid = platform::crypto::NewGuidText();
    if (guid.empty()) {
        guid = kFallbackGuid;
    }
    std::string launchOnExit = core.LaunchOnExit();
    if (core::ResumeModeFromArguments(core::CommandLineArguments()) != ResumeMode::NONE) {
        const core::ResumeManagerRecord record = core::LoadResumeManager(core.RegistryBase(), true);
        if (record.loaded) {
            guid = record.guid;
            launchOnExit = record.launchOnExit;
        }
    }
    if (guid.empty()) {
        return parameters;
    }
    const std::string expanded = ReplaceFirst(launchOnExit, "$GUID$", guid);
    parameters = ReplaceFirst(parameters, launchOnExit, expanded);
    core::WriteResumeManager(core.RegistryBase(), expanded, guid);
    return parameters;
}

ErrorHandle RunInstaller(core::HtmlExternal& host, PackageKind kind, const InstallRequest& request,
                         const std::string& parameters, const std::string& logPath) {
    switch (kind) {
        case PackageKind::kMsi:
            return core::InstallMsi(host, request.package, parameters, logPath);
        case PackageKind::kExe:
            // Downloaded programs arrive without the mode bit that runs them.
            fs::MarkExecutable(request.package);
            return core::InstallExe(host, request.package, parameters, request.estimatedTime);
        case PackageKind::kZip:
            return core::InstallZip(host, request.package, parameters, request.estimatedTime);
        case PackageKind::kUnsupported:
            break;
    }
    return ErrorHandle::FileNotExist;
}

// A name from the page as part of a file name: no separators.
std::string FileNamePart(std::string name) {
    std::replace_if(
        name.begin(), name.end(), [](char c) { return c == '/' || c == '\\'; }, '_');
    return name;
}

// "<product log folder><what>_<name>_<UTC time>.log".
std::string CommandLogPath(ExternalMethods& owner, const char* what, const std::string& name) {
    const std::string folder = core::KeptLogFolder(owner.Core().ProductId(), owner.Log());
    return folder + what + "_" + FileNamePart(name) + "_" + core::UtcStamp() + ".log";
}

HRESULT StartCommand(ExternalMethods& owner, const VARIANT& callback, std::string command,
                     std::string logPath, void (*threadFunc)(std::unique_ptr<CommandRequest>),
                     const char* failureLog) {
    auto request = std::make_unique<CommandRequest>();
    request->owner = &owner;
    request->first = std::move(command);
    request->second = std::move(logPath);
    return StartWorker(owner, std::move(request), callback, threadFunc, failureLog);
}

bool SearchTree(const std::string& folder, const std::string& file, const std::string& name,
                const std::atomic<bool>& active, std::string& common) {
    std::vector<fs::FolderEntry> entries;
    if (fs::ListFolder(folder, entries) != platform::kErrorSuccess) {
        return false;
    }
    for (const fs::FolderEntry& entry : entries) {
        const std::string path = folder + fs::kPathSeparator + entry.name;
        if (entry.isFolder) {
            if (SearchTree(path, file, name, active, common)) {
                return true;
            }
        } else if (entry.name == name && path.size() > file.size() &&
                   path.compare(path.size() - file.size(), file.size(), file) == 0 &&
                   path[path.size() - file.size() - 1] == fs::kPathSeparator) {
            // The whole of `file` ends the path: a folder that merely ends
            // in the same letters is no hit.
            common = path.substr(0, path.size() - file.size());
            return true;
        }
        if (!active) {
            return false;
        }
    }
    return false;
}

}  // namespace

std::string BracedProductCode(const std::string& productCode) {
    return productCode.find('{') == std::string::npos ? "{" + productCode + "}" : productCode;
}

std::string InstallParameters(const std::string& passThrough, const std::string& parameters,
                              bool silent) {
    return passThrough + " " + parameters + (silent ? " /qn" : "");
}

std::string ReplaceFirst(std::string text, const std::string& placeholder,
                         const std::string& value) {
    if (placeholder.size() < 3) {
        return text;
    }
    const std::size_t at = text.find(placeholder);
    if (at != std::string::npos) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

std::string FindCommonFolder(const std::string& folder, const std::string& file,
                             const std::atomic<bool>& active) {
    std::string relative = fs::FromPagePath(file);
    while (!relative.empty() && relative.front() == fs::kPathSeparator) {
        relative.erase(0, 1);
    }
    std::string top = folder;
    while (top.size() > 1 && top.back() == fs::kPathSeparator) {
        top.pop_back();
    }
    std::string common;
    if (relative.empty() || !SearchTree(top, relative, fs::FileName(relative), active, common)) {
        return {};
    }
    return common;
}

void InstallThreadFunc(std::unique_ptr<InstallRequest> request) {
    ComApartment apartment;
    ExternalMethods& owner = *request->owner;
    const auto callback = WorkerPrologue(owner, request->callback, nullptr);
    if (!callback) {
        return;
    }
    core::HtmlExternal& host = owner.Dispatch();
    ProgressJob job(host, callback.Get(), request->package);
    const PackageKind kind = KindOf(request->package);
    ErrorHandle result = ErrorHandle::FileNotExist;
    if (kind != PackageKind::kUnsupported) {
        // One name for the log, shared with the installer: attached, it must
        // be the file the installer wrote.
        const std::string folder = core::KeptLogFolder(owner.Core().ProductId(), owner.Log());
        const std::string logPath =
            folder.empty() ? "" : folder + "log_" + core::UtcStamp() + ".txt";
        const std::string xmlLogPath = folder.empty() ? "" : folder + "log.txt.xml";
        std::string parameters = request->parameters;
        if (kind == PackageKind::kMsi && !logPath.empty()) {
            parameters = ReplaceFirst(parameters, "$LOGFILE$", Quoted(logPath));
        }
        parameters = ReplaceFirst(parameters, "$STUBPATH$", Quoted(ShortcutArgument()));
        parameters = ApplyLaunchOnExit(owner.Core(), parameters);

        job.StartProgress(InstallProgressThreadFunc);
        result = RunInstaller(host, kind, *request, parameters, logPath);
        if (result == ErrorHandle::NoError) {
            host.SetProgress(core::kInstallCurrent,
                             static_cast<std::uint32_t>(host.GetProgress(core::kInstallTotal)));
            job.WaitUntilReported();
        } else {
            job.SetState(result);
        }
        owner.Core().AttachedFiles().Attach(logPath);
        owner.Core().AttachedFiles().Attach(xmlLogPath);
        if (result != ErrorHandle::NoError && result != ErrorHandle::Abort) {
            debug::FrameworkErrorMessage(
                Log(owner), "Install fail, install path : %s, install result : %x",
                request->package.c_str(), static_cast<unsigned>(AsNumber(result)));
        }
    }
    job.Complete(result, ProgressPair::Install);
}

void UninstallThreadFunc(std::unique_ptr<CommandRequest> request) {
    ComApartment apartment;
    ExternalMethods& owner = *request->owner;
    const auto callback =
        WorkerPrologue(owner, request->callback,
                       "UninstallThreadFunc CoGetInterfaceAndReleaseStream  failed with: ");
    if (!callback) {
        return;
    }
    const ErrorHandle result = core::RunUninstall(owner.Dispatch(), request->first);
    CallPage(callback.Get(), result);
    owner.Core().AttachedFiles().Attach(request->second);
    debug::FrameworkDebugMessage(Log(owner), "UninstallThreadFunc result: %x",
                                 static_cast<unsigned>(AsNumber(result)));
}

void VerifyThreadFunc(std::unique_ptr<CommandRequest> request) {
    ComApartment apartment;
    ExternalMethods& owner = *request->owner;
    const auto callback = WorkerPrologue(owner, request->callback, nullptr);
    if (!callback) {
        return;
    }
    core::HtmlExternal& host = owner.Dispatch();
    host.SetVerifyActive(true);
    const std::string common =
        FindCommonFolder(request->first, request->second, host.VerifyActive());
    const bool found = !common.empty();
    const bool active = host.VerifyActive();
    owner.Core().Properties().Set("PackagePath", common);
    debug::FrameworkDebugMessage(Log(owner), "VerifyThreadFunc parameters: %s - %s",
                                 request->first.c_str(), request->second.c_str());
    debug::FrameworkDebugMessage(Log(owner), "VerifyThreadFunc %d - %d ; common directory: %s",
                                 found ? 1 : 0, active ? 1 : 0, common.c_str());
    const ErrorHandle result = !active ? ErrorHandle::Cancelled
                               : found ? ErrorHandle::NoError
                                       : ErrorHandle::Failure;
    CallPage(callback.Get(), result);
}

}  // namespace stubframework

namespace stubframework::methods {

HRESULT install(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* /*result*/) {
    auto request = std::make_unique<InstallRequest>();
    request->owner = &owner;
    request->package = fs::FromPagePath(StringArgument(params, 0));
    request->parameters = InstallParameters(owner.Core().PassThrough(), StringArgument(params, 1),
                                            core::IsSilentLaunch(core::CommandLineArguments()));
    request->estimatedTime = IntArgument(params, 2);
    debug::FrameworkDebugMessage(Log(owner), "EMInstall params %ld, %s, %s",
                                 static_cast<long>(request->estimatedTime),
                                 request->parameters.c_str(), request->package.c_str());
    const HRESULT hr =
        StartWorker(owner, std::move(request), ScriptArgument(params, 3), InstallThreadFunc,
                    "EMInstall: CoMarshalInterThreadInterfaceInStream failed with ");
    if (FAILED(hr)) {
        return hr;
    }
    debug::FrameworkDebugMessage(Log(owner), "EMInstall -- Finish");
    return S_OK;
}

HRESULT removeProgram(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                      VARIANT* /*result*/) {
    debug::FrameworkDebugMessage(Log(owner), "EMRemoveProgram");
    const std::string name = StringArgument(params, 0);
    const bool isMsi = BoolArgument(params, 1);
    const std::string code = BracedProductCode(StringArgument(params, 2));
    const std::string logPath = CommandLogPath(owner, "remove", name);
    const std::string switches = "/qn /norestart /l*v " + Quoted(logPath);
    std::string command = "msiexec.exe /uninstall " + code + " " + switches;
    std::string vendorCommand;
    if (!isMsi &&
        core::ReadRegistryText(kUninstallKey + code, "UninstallString", vendorCommand,
                               kMaxCommandBytes) &&
        !vendorCommand.empty() && vendorCommand.find("MsiExec.exe") == std::string::npos) {
        debug::FrameworkDebugMessage(Log(owner), "EMRemoveProgram  uninstallstring : %s",
                                     vendorCommand.c_str());
        // Glued to the switches, the last argument would swallow the first switch.
        command = vendorCommand + (vendorCommand.back() == ' ' ? "" : " ") + switches;
    }
    return StartCommand(owner, ScriptArgument(params, 3), command, logPath, UninstallThreadFunc,
                        "EMRemoveProgram: CoMarshalInterThreadInterfaceInStream failed with ");
}

HRESULT repairProgram(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                      VARIANT* /*result*/) {
    debug::FrameworkDebugMessage(Log(owner), "ZSRepairProgram");
    const std::string logPath = CommandLogPath(owner, "repair", StringArgument(params, 0));
    const std::string command = "msiexec.exe /f " + BracedProductCode(StringArgument(params, 1)) +
                                " /qn /norestart /l*v " + Quoted(logPath);
    return StartCommand(owner, ScriptArgument(params, 2), command, logPath, UninstallThreadFunc,
                        "ZSRepairProgram: CoMarshalInterThreadInterfaceInStream failed with ");
}

HRESULT verifyFileInSpecialDirectory(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                                     VARIANT* /*result*/) {
    debug::FrameworkDebugMessage(Log(owner), "EMVerifyFileInSpecialDirectory");
    return StartCommand(
        owner, ScriptArgument(params, 2), fs::FromPagePath(StringArgument(params, 0)),
        StringArgument(params, 1), VerifyThreadFunc,
        "EMVerifyFileInSpecialDirectory: CoMarshalInterThreadInterfaceInStream failed with ");
}

HRESULT cancelVerifyThread(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                           VARIANT* /*result*/) {
    owner.Dispatch().SetVerifyActive(false);
    debug::FrameworkDebugMessage(Log(owner), "EMCancelVerifyThread Finish");
    return S_OK;
}

}  // namespace stubframework::methods
