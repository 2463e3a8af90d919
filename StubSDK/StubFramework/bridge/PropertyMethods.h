// setProperty and getProperty: the pages' access to the property store.
#pragma once

#include "bridge/MethodHandler.h"

namespace stubframework::methods {

HRESULT setProperty(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getProperty(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);

}  // namespace stubframework::methods
