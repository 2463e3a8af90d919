#include "bridge/WindowMethods.h"

#include "bridge/ExternalMethods.h"
#include "bridge/HtmlExternal.h"
#include "bridge/MethodSignature.h"
#include "bridge/WindowPlacement.h"
#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/ResumeRecord.h"
#include "platform/commandline.h"
#include "platform/process.h"
#include "platform/window.h"

namespace stubframework::methods {
namespace {

namespace window = platform::window;

// Starts a program from a command line without waiting for it.
bool StartDetached(const std::string& application, const std::string& commandLine) {
    std::uint32_t ignored = 0;
    return platform::process::RunProcess(application, commandLine, "", false, ignored);
}

const char* Outcome(bool success) {
    return success ? "success" : "fail";
}

}  // namespace

HRESULT closeWindow(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                    VARIANT* /*result*/) {
    // Only our own window closes this way.
    if (window::IsHostWindow(owner.HostWindow())) {
        window::RequestClose(owner.HostWindow());
    }
    return S_OK;
}

HRESULT terminateWindow(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* /*params*/,
                        VARIANT* /*result*/) {
    platform::process::ExitProcess(0);
}

HRESULT dragWindow(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                   VARIANT* /*result*/) {
    window::BeginDrag(owner.HostWindow());
    return S_OK;
}

HRESULT hideWindow(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                   VARIANT* /*result*/) {
    window::Show(owner.HostWindow(), false);
    debug::FrameworkDebugMessage(Log(owner), "EMHideWindow");
    return S_OK;
}

HRESULT showWindow(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                   VARIANT* /*result*/) {
    window::Show(owner.HostWindow(), true);
    debug::FrameworkDebugMessage(Log(owner), "EMShowWindow");
    return S_OK;
}

HRESULT setWindowSize(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                      VARIANT* /*result*/) {
    const LONG width = IntArgument(params, 0);
    const LONG height = IntArgument(params, 1);
    debug::FrameworkDebugMessage(Log(owner), "ZSWindowSize: %d", static_cast<int>(width));
    core::HtmlExternal& dispatch = owner.Dispatch();
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

HRESULT messageBox(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                   VARIANT* /*result*/) {
    const std::string text = StringArgument(params, 0);
    const std::string title = StringArgument(params, 1);
    debug::FrameworkDebugMessage(Log(owner), "ZSMessageBox: %s %s", text.c_str(), title.c_str());
    window::ShowMessageBox(owner.HostWindow(), text, title, window::MessageButtons::Ok);
    return S_OK;
}

HRESULT confirmMessageBox(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                          VARIANT* result) {
    const window::MessageAnswer answer =
        window::ShowMessageBox(owner.HostWindow(), StringArgument(params, 0),
                               StringArgument(params, 1), window::MessageButtons::OkCancel);
    const bool confirmed = answer != window::MessageAnswer::Cancel;
    debug::FrameworkDebugMessage(Log(owner), "EMConfirmMessageBox Result : %s",
                                 confirmed ? "Close" : "Cancel Close");
    ReturnBool(result, confirmed);
    return S_OK;
}

HRESULT selectFolder(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
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

HRESULT runApplication(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                       VARIANT* result) {
    const std::string commandLine = StringArgument(params, 0);
    const bool started = StartDetached("", commandLine);
    debug::FrameworkDebugMessage(Log(owner), "EMRunApplication: %s, result: %s",
                                 commandLine.c_str(), Outcome(started));
    ReturnBool(result, started);
    return S_OK;
}

HRESULT openPage(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    const std::string url = StringArgument(params, 0);
    const bool opened = platform::process::OpenWithDesktop(url);
    debug::FrameworkDebugMessage(Log(owner), "ZSOpenPage: %s, result: %s", url.c_str(),
                                 Outcome(opened));
    ReturnBool(result, opened);
    return S_OK;
}

HRESULT startProgram(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* params,
                     VARIANT* /*result*/) {
    // The parameters are one text, split the way the program would split it.
    std::vector<std::string> arguments =
        platform::SplitCommandLine("program " + StringArgument(params, 1));
    arguments.erase(arguments.begin());
    platform::process::LaunchAsDesktopUser(StringArgument(params, 0), arguments);
    return S_OK;
}

HRESULT startRegApps(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                     VARIANT* /*result*/) {
    const ResumeMode mode = core::ResumeModeFromArguments(core::CommandLineArguments());
    for (const std::string& commandLine :
         core::RegistrationApplications(owner.Core().RegistryBase(), mode)) {
        std::vector<std::string> arguments = platform::SplitCommandLine(commandLine);
        const std::string program = arguments.front();
        arguments.erase(arguments.begin());
        const bool started = platform::process::LaunchElevated(program, arguments);
        debug::FrameworkDebugMessage(Log(owner), "EMStartRegApps: %s with result %s",
                                     commandLine.c_str(), started ? "success" : "failed");
    }
    return S_OK;
}

HRESULT executeCommand(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                       VARIANT* result) {
    const std::string command = StringArgument(params, 0);
    // Run by the shell, no terminal, not awaited.
    const bool started = platform::process::RunShellCommand(command);
    debug::FrameworkDebugMessage(Log(owner), "EMExecuteCommand: %s, result: %s", command.c_str(),
                                 Outcome(started));
    ReturnBool(result, started);
    return S_OK;
}

}  // namespace stubframework::methods
