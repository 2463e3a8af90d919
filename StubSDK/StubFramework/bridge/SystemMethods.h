// The operating-system and language methods: what system the pages run on,
// whether it can reach the network and the web service, and which language
// the wizard speaks.
#pragma once

#include "bridge/MethodHandler.h"

namespace stubframework::methods {

HRESULT getOSVersion(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT checkOS(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT isInternetConnected(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                            VARIANT* result);
HRESULT isInEmbargoedCountry(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                             VARIANT* result);
HRESULT trackUserActivity(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getMachineId(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);

HRESULT getOSLang(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getLanguageByID(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getParsedInstallLanguage(ExternalMethods& owner, WORD flags, DISPPARAMS* params,
                                 VARIANT* result);
HRESULT setLang(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT setChannel(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);

}  // namespace stubframework::methods
