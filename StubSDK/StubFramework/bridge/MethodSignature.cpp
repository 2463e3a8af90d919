#include "bridge/MethodSignature.h"

#include "bridge/ExternalMethods.h"

namespace stubframework {

HRESULT CheckParamTypes(ExternalMethods& owner, const DISPPARAMS* params, const VARTYPE* expected,
                        UINT count) {
    const FrameworkServices* framework = &owner.Framework();
    if (params == nullptr || params->cArgs != count) {
        debug::FrameworkDebugMessage(framework, "CheckParamTypes -- DISP_E_BADPARAMCOUNT");
        return DISP_E_BADPARAMCOUNT;
    }
    for (UINT i = 0; i < count; ++i) {
        const VARTYPE received = params->rgvarg[i].vt;
        if (received != expected[i]) {
            debug::FrameworkDebugMessage(
                framework,
                "CheckParamTypes -- DISP_E_TYPEMISMATCH, param %u, received type %u, expected type "
                "%u",
                i, static_cast<unsigned>(received), static_cast<unsigned>(expected[i]));
            return DISP_E_TYPEMISMATCH;
        }
    }
    return S_OK;
}

HRESULT CheckCall(ExternalMethods& owner, const MethodSignature& signature, WORD flags,
                  DISPPARAMS* params) {
    if (signature.logFirst != nullptr) {
        debug::FrameworkDebugMessage(&owner.Framework(), "%s", signature.logFirst);
    }
    if (signature.flags == kAnyFlags) {
        return S_OK;
    }
    if (flags != signature.flags) {
        return DISP_E_MEMBERNOTFOUND;
    }
    const UINT arguments = params != nullptr ? params->cArgs : 0;
    const UINT named = params != nullptr ? params->cNamedArgs : 0;
    if (arguments != signature.argumentCount || named != 0) {
        return DISP_E_BADPARAMCOUNT;
    }
    if (signature.argumentCount == 0 || !signature.typesChecked) {
        return S_OK;
    }
    std::array<VARTYPE, kMaxArguments> expected{};
    for (UINT i = 0; i < signature.argumentCount; ++i) {
        expected[i] = signature.arguments[signature.argumentCount - 1 - i];
    }
    return CheckParamTypes(owner, params, expected.data(), signature.argumentCount);
}

const VARIANT& ScriptArgument(const DISPPARAMS* params, UINT scriptIndex) {
    return params->rgvarg[params->cArgs - 1 - scriptIndex];
}

std::string StringArgument(const DISPPARAMS* params, UINT scriptIndex) {
    const VARIANT& argument = ScriptArgument(params, scriptIndex);
    return argument.vt == VT_BSTR ? platform::com::ToUtf8(argument.bstrVal) : std::string();
}

LONG IntArgument(const DISPPARAMS* params, UINT scriptIndex) {
    const VARIANT& argument = ScriptArgument(params, scriptIndex);
    return argument.vt == VT_I4 ? argument.lVal : 0;
}

bool BoolArgument(const DISPPARAMS* params, UINT scriptIndex) {
    const VARIANT& argument = ScriptArgument(params, scriptIndex);
    return argument.vt == VT_BOOL && argument.boolVal == VARIANT_TRUE;
}

void ReturnString(VARIANT* result, std::string_view text) {
    if (result == nullptr) {
        return;
    }
    VariantClear(result);
    result->vt = VT_BSTR;
    result->bstrVal = platform::com::AllocString(text);
}

void ReturnBool(VARIANT* result, bool value) {
    if (result == nullptr) {
        return;
    }
    VariantClear(result);
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void ReturnInt(VARIANT* result, LONG value) {
    if (result == nullptr) {
        return;
    }
    VariantClear(result);
    result->vt = VT_I4;
    result->lVal = value;
}

void ReturnUInt(VARIANT* result, ULONG value) {
    if (result == nullptr) {
        return;
    }
    VariantClear(result);
    result->vt = VT_UI4;
    result->ulVal = value;
}

}  // namespace stubframework
