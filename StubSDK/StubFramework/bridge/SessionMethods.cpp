#include "bridge/SessionMethods.h"

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/ExternalMethods.h"
#include "bridge/InstallMethods.h"
#include "bridge/MethodSignature.h"
#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/session.h"
#include "platform/system.h"
#include "platform/window.h"

namespace stubframework::methods {
namespace {

namespace fs = platform::fs;
namespace reg = platform::registry;

constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* kRunOnceKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// "<product id>_<major version>": the run-after-restart value's name.
std::string RunOnceName(core::FrameworkCore& core) {
    return core.ProductId() + "_" + core::MajorVersion(core.ProductVersion());
}

bool SetText(const reg::Key& key, const char* name, std::uint32_t type, const std::string& text) {
    return reg::SetValue(key, name, type, reg::TextData(text)) == platform::kErrorSuccess;
}

bool SetNumber(const reg::Key& key, const char* name, std::uint32_t value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    return reg::SetValue(key, name, reg::kRegDword,
                         std::vector<std::uint8_t>(bytes, bytes + sizeof value)) ==
           platform::kErrorSuccess;
}

// The running stub, copied where the uninstall entry can find it for good.
std::string CopyStubForUninstall(ExternalMethods& owner) {
    const std::string folder =
        platform::system::CommonAppDataFolder() + "/Zelvo/" + owner.Core().ProductId();
    fs::CreateFolderTree(folder);
    std::string copy = folder + "/" + fs::FileName(platform::process::ExecutablePath());
    if (fs::CopyFile(platform::process::RunningImagePath(), copy, false) !=
            platform::kErrorSuccess ||
        fs::MarkExecutable(copy) != platform::kErrorSuccess) {
        debug::FrameworkErrorMessage(Log(owner), "SetUninstallRegistryFromStub cannot copy to %s",
                                     copy.c_str());
    }
    return copy;
}

}  // namespace

HRESULT setUninstallRegistryFromStub(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                                     VARIANT* /*result*/) {
    debug::FrameworkDebugMessage(Log(owner), "SetUninstallRegistryFromStub");
    const std::string code = BracedProductCode(StringArgument(params, 0));
    const reg::View view = BoolArgument(params, 1) ? reg::View::Wow64_64 : reg::View::Wow64_32;
    const std::string copy = CopyStubForUninstall(owner);
    // Quoted: a path with a blank must still start.
    const std::string quoted = "\"" + copy + "\"";
    reg::Key key;
    if (reg::CreateKey(reg::Root::LocalMachine, kUninstallKey + code, view, key) ==
        platform::kErrorSuccess) {
        SetText(key, "UninstallString", reg::kRegExpandSz, quoted + " /uninstall ");
        SetText(key, "ModifyPath", reg::kRegExpandSz, quoted + " /modify ");
        SetNumber(key, "WindowsInstaller", 0);
        SetText(key, "DisplayIcon", reg::kRegSz, copy);
    }
    debug::FrameworkDebugMessage(Log(owner), "SetUninstallRegistryFromStub result: success");
    return S_OK;
}

HRESULT runAfterReboot(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                       VARIANT* /*result*/) {
    debug::FrameworkDebugMessage(Log(owner), "EMRunAfterReboot");
    const std::string page = StringArgument(params, 0);
    std::string shortcut;
    core::ShortcutPath(core::CommandLineArguments(), shortcut);
    const std::string command = "\"" + shortcut + "\" RESUME=" + page;
    const std::string name = RunOnceName(owner.Core());
    reg::Key key;
    if (reg::CreateKey(reg::Root::LocalMachine, kRunOnceKey, reg::View::Wow64_64, key) ==
        platform::kErrorSuccess) {
        SetText(key, name.c_str(), reg::kRegSz, command);
    }
    // Nothing reads RunOnce here: the desktop session runs it.
    if (!platform::session::SetRunOnce(name, command)) {
        debug::FrameworkErrorMessage(Log(owner), "EMRunAfterReboot cannot write the entry %s",
                                     platform::session::RunOnceEntryPath(name).c_str());
    }
    debug::FrameworkDebugMessage(Log(owner), "EMRunAfterReboot %s", page.c_str());
    return S_OK;
}

HRESULT undoRunAfterReboot(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                           VARIANT* /*result*/) {
    debug::FrameworkDebugMessage(Log(owner), "EMUndoRunAfterReboot");
    const std::string name = RunOnceName(owner.Core());
    reg::Key key;
    if (reg::OpenKey(reg::Root::LocalMachine, kRunOnceKey, reg::View::Wow64_64, reg::Access::All,
                     key) == platform::kErrorSuccess) {
        reg::DeleteValue(key, name);
    }
    platform::session::RemoveRunOnce(name);
    return S_OK;
}

HRESULT restartSystem(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                      VARIANT* /*result*/) {
    const std::string text = StringArgument(params, 0);
    const std::string title = StringArgument(params, 1);
    debug::FrameworkDebugMessage(Log(owner), "EMRestartSystem: %s %s", text.c_str(), title.c_str());
    if (platform::window::ShowMessageBox(owner.HostWindow(), text, title,
                                         platform::window::MessageButtons::OkCancel) ==
        platform::window::MessageAnswer::Ok) {
        if (!platform::session::Reboot()) {
            debug::FrameworkErrorMessage(Log(owner), "EMRestartSystem: the restart failed");
        }
    }
    return S_OK;
}

}  // namespace stubframework::methods
