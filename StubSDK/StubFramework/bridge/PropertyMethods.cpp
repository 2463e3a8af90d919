#include "bridge/PropertyMethods.h"

#include "bridge/ExternalMethods.h"
#include "bridge/MethodSignature.h"
#include "core/FrameworkCore.h"

namespace stubframework::methods {

HRESULT setProperty(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                    VARIANT* /*result*/) {
    const std::string name = StringArgument(params, 0);
    const std::string value = StringArgument(params, 1);
    owner.Core().Properties().Set(name, value);
    debug::FrameworkDebugMessage(&owner.Framework(), "EMSetProperty %s, %s", value.c_str(),
                                 name.c_str());
    return S_OK;
}

HRESULT getProperty(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    ReturnString(result, owner.Core().Properties().Get(StringArgument(params, 0)));
    return S_OK;
}

}  // namespace stubframework::methods
