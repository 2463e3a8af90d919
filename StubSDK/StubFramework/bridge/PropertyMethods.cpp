#include "bridge/PropertyMethods.h"

#include "bridge/BuiltInMethods.h"
#include "bridge/ExternalMethods.h"
#include "core/Framework.h"

namespace stubframework {

HRESULT EMSetProperty(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* /*result*/) {
    const HRESULT hr = CheckCall(owner, methods::kSetProperty, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    const std::string name = StringArgument(params, 0);
    const std::string value = StringArgument(params, 1);
    StubFramework& framework = owner.Framework();
    framework.Core().Properties().Set(name, value);
    debug::FrameworkDebugMessage(&framework, "EMSetProperty %s, %s", value.c_str(), name.c_str());
    return S_OK;
}

HRESULT EMGetProperty(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result) {
    const HRESULT hr = CheckCall(owner, methods::kGetProperty, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    ReturnString(result, owner.Framework().Core().Properties().Get(StringArgument(params, 0)));
    return S_OK;
}

}  // namespace stubframework
