// The methods that reach into the desktop session: the product's uninstall
// entry, a resumed run after a restart, and the restart itself.
#pragma once

#include "bridge/MethodHandler.h"

namespace stubframework::methods {

HRESULT setUninstallRegistryFromStub(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                                     VARIANT* result);
HRESULT runAfterReboot(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT undoRunAfterReboot(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT restartSystem(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);

}  // namespace stubframework::methods
