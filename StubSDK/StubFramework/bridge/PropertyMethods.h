// setProperty and getProperty: the pages' access to the property store.
#pragma once

#include "bridge/MethodHandler.h"

namespace stubframework {

HRESULT EMSetProperty(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT EMGetProperty(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);

}  // namespace stubframework
