// The window and message-box methods: the pages draw their own frame and ask
// for the window to be sized, moved, hidden, shown and closed, and for
// message boxes, the folder picker and other programs.
#pragma once

#include "bridge/MethodHandler.h"

namespace stubframework {

HRESULT ZSClose(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT EMTerminateWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT ZSDragWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT EMHideWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT EMShowWindow(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT ZSWindowSize(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT ZSMessageBox(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT EMConfirmMessageBox(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                            VARIANT* result);
HRESULT EMSelectFolder(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT EMRunApplication(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT EMOpenPage(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT EMStartProgram(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT EMStartRegApps(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT EMExecuteCommand(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);

}  // namespace stubframework
