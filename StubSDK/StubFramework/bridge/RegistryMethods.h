// The registry methods: the pages read, write and delete values and keys of
// their own and of other programs, in the view they ask for.
#pragma once

#include "bridge/MethodHandler.h"

namespace stubframework::methods {

HRESULT getBaseRegKey(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT getDataFromReg(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT setDataToReg(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT deleteRegKey(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);
HRESULT searchRegKey(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result);

}  // namespace stubframework::methods
