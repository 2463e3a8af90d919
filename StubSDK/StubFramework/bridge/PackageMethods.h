// The package and launch methods: the checksum of a downloaded package, how
// the executable was started (self-update, silent, resume, uninstall), and
// the install status and error the pages report.
#pragma once

#include "bridge/MethodHandler.h"

namespace stubframework::methods {

HRESULT getCrc(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT isSkipSelfUpdate(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT isSilentLaunchStub(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getResumeMode(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT isUninstallModeLaunch(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                              VARIANT* result);
HRESULT setInstallStatus(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getLastInstallError(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                            VARIANT* result);

}  // namespace stubframework::methods
