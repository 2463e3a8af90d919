#include "bridge/WindowMethods.h"

#include "bridge/BuiltInMethods.h"
#include "bridge/ExternalMethods.h"
#include "bridge/WindowPlacement.h"
#include "core/CommandLine.h"
#include "core/Framework.h"
#include "core/ResumeRecord.h"
#include "platform/commandline.h"
#include "platform/process.h"
#include "platform/window.h"

namespace stubframework {
namespace {

namespace window = platform::window;

const StubFramework* Log(ExternalMethods& owner) {
    return &owner.Framework();
}

// Starts a program from a command line without waiting for it.
bool StartDetached(const std::string& application, const std::string& commandLine) {
    std::uint32_t ignored = 0;
    return platform::process::RunProcess(application, commandLine, "", false, ignored);
}

const char* Outcome(bool success) {
    return success ? "success" : "fail";
}

}  // namespace

HRESULT ZSClose(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* /*result*/) {
    debug::FrameworkDebugMessage(Log(owner), "ZSClose");
    const HRESULT hr = CheckCall(owner, methods::kCloseWindow, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    // Only our own window closes this way.
    if (window::IsHostWindow(owner.HostWindow())) {
        window::RequestClose(owner.HostWindow());
    }
    return S_OK;
}

HRESULT EMTerminateWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                          VARIANT* /*result*/) {
    const HRESULT hr = CheckCall(owner, methods::kTerminateWindow, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    platform::process::ExitProcess(0);
}

HRESULT ZSDragWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* /*result*/) {
    debug::FrameworkDebugMessage(Log(owner), "ZSDragWindow");
    const HRESULT hr = CheckCall(owner, methods::kDragWindow, flags, params);
    if (SUCCEEDED(hr)) {
        window::BeginDrag(owner.HostWindow());
    }
    return hr;
}

HRESULT EMHideWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* /*result*/) {
    const HRESULT hr = CheckCall(owner, methods::kHideWindow, flags, params);
    if (SUCCEEDED(hr)) {
        window::Show(owner.HostWindow(), false);
        debug::FrameworkDebugMessage(Log(owner), "EMHideWindow");
    }
    return hr;
}

HRESULT EMShowWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* /*result*/) {
    const HRESULT hr = CheckCall(owner, methods::kShowWindow, flags, params);
    if (SUCCEEDED(hr)) {
        window::Show(owner.HostWindow(), true);
        debug::FrameworkDebugMessage(Log(owner), "EMShowWindow");
    }
    return hr;
}

HRESULT ZSWindowSize(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* /*result*/) {
    const HRESULT hr = CheckCall(owner, methods::kSetWindowSize, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    const LONG width = IntArgument(params, 0);
    const LONG height = IntArgument(params, 1);
    debug::FrameworkDebugMessage(Log(owner), "ZSWindowSize: %d", static_cast<int>(width));
    core::HtmlExternal& dispatch = owner.Framework().Dispatch();
    const window::Rect outer = PlaceWindow(owner.HostWindow(), width, height);
    // The same size again leaves a window the user has moved where it is.
    if (outer.Width() == dispatch.LastWindowWidth() &&
        outer.Height() == dispatch.LastWindowHeight()) {
        return S_OK;
    }
    window::SetPosition(owner.HostWindow(), outer);
    dispatch.SetLastWindowSize(outer.Width(), outer.Height());
    return S_OK;
}

HRESULT ZSMessageBox(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* /*result*/) {
    const HRESULT hr = CheckCall(owner, methods::kMessageBox, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    const std::string text = StringArgument(params, 0);
    const std::string title = StringArgument(params, 1);
    debug::FrameworkDebugMessage(Log(owner), "ZSMessageBox: %s %s", text.c_str(), title.c_str());
    window::ShowMessageBox(owner.HostWindow(), text, title, window::MessageButtons::Ok);
    return S_OK;
}

HRESULT EMConfirmMessageBox(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                            VARIANT* result) {
    const HRESULT hr = CheckCall(owner, methods::kConfirmMessageBox, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    const window::MessageAnswer answer =
        window::ShowMessageBox(owner.HostWindow(), StringArgument(params, 0),
                               StringArgument(params, 1), window::MessageButtons::OkCancel);
    const bool confirmed = answer != window::MessageAnswer::Cancel;
    debug::FrameworkDebugMessage(Log(owner), "EMConfirmMessageBox Result : %s",
                                 confirmed ? "Close" : "Cancel Close");
    ReturnBool(result, confirmed);
    return S_OK;
}

HRESULT EMSelectFolder(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckCall(owner, methods::kSelectFolder, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    const std::string initial = StringArgument(params, 0);
    std::string folder = initial;
    std::string chosen;
    if (window::SelectFolder(owner.HostWindow(), initial, chosen)) {
        folder = chosen;
    }
    debug::FrameworkDebugMessage(Log(owner), "EMSelectFolder args %s, Result %s", initial.c_str(),
                                 folder.c_str());
    ReturnString(result, folder);
    return S_OK;
}

HRESULT EMRunApplication(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result) {
    debug::FrameworkDebugMessage(Log(owner), "EMRunApplication");
    const HRESULT hr = CheckCall(owner, methods::kRunApplication, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    const std::string commandLine = StringArgument(params, 0);
    const bool started = StartDetached("", commandLine);
    debug::FrameworkDebugMessage(Log(owner), "EMRunApplication: %s, result: %s",
                                 commandLine.c_str(), Outcome(started));
    ReturnBool(result, started);
    return S_OK;
}

HRESULT EMOpenPage(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckCall(owner, methods::kOpenPage, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    const std::string url = StringArgument(params, 0);
    const bool opened = platform::process::LaunchAsDesktopUser("xdg-open", {url});
    debug::FrameworkDebugMessage(Log(owner), "ZSOpenPage: %s, result: %s", url.c_str(),
                                 Outcome(opened));
    ReturnBool(result, opened);
    return S_OK;
}

HRESULT EMStartProgram(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                       VARIANT* /*result*/) {
    const HRESULT hr = CheckCall(owner, methods::kStartProgram, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    // The parameters are one text, split the way the program would split it.
    std::vector<std::string> arguments =
        platform::SplitCommandLine("program " + StringArgument(params, 1));
    arguments.erase(arguments.begin());
    platform::process::LaunchAsDesktopUser(StringArgument(params, 0), arguments);
    return S_OK;
}

HRESULT EMStartRegApps(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                       VARIANT* /*result*/) {
    debug::FrameworkDebugMessage(Log(owner), "EMStartRegApps");
    const HRESULT hr = CheckCall(owner, methods::kStartRegApps, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    const ResumeMode mode = core::ResumeModeFromArguments(core::CommandLineArguments());
    for (const std::string& commandLine :
         core::RegistrationApplications(owner.Framework().Core().RegistryBase(), mode)) {
        std::vector<std::string> arguments = platform::SplitCommandLine(commandLine);
        const std::string program = arguments.front();
        arguments.erase(arguments.begin());
        const bool started = platform::process::LaunchElevated(program, arguments);
        debug::FrameworkDebugMessage(Log(owner), "EMStartRegApps: %s with result %s",
                                     commandLine.c_str(), started ? "success" : "failed");
    }
    return S_OK;
}

HRESULT EMExecuteCommand(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result) {
    debug::FrameworkDebugMessage(Log(owner), "EMExecuteCommand");
    const HRESULT hr = CheckCall(owner, methods::kExecuteCommand, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    const std::string command = StringArgument(params, 0);
    // The shell's "cmd.exe /c": run by the shell, no terminal, not awaited.
    const bool started = platform::process::LaunchHidden("/bin/sh", {"-c", command});
    debug::FrameworkDebugMessage(Log(owner), "EMExecuteCommand: %s, result: %s", command.c_str(),
                                 Outcome(started));
    ReturnBool(result, started);
    return S_OK;
}

}  // namespace stubframework
