// The window and message-box methods: the pages draw their own frame and ask
// for the window to be sized, moved, hidden, shown and closed, and for
// message boxes, the folder picker and other programs.
#pragma once

#include "bridge/MethodHandler.h"

namespace stubframework::methods {

HRESULT closeWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT terminateWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT dragWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT hideWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT showWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT setWindowSize(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT messageBox(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT confirmMessageBox(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT selectFolder(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT runApplication(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT openPage(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT startProgram(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT startRegApps(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT executeCommand(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);

}  // namespace stubframework::methods
