#include "bridge/RegistryMethods.h"

#include <cstddef>
#include <string>

#include "bridge/ExternalMethods.h"
#include "bridge/MethodSignature.h"
#include "core/FrameworkCore.h"
#include "core/RegistrySearch.h"
#include "core/RegistryText.h"

namespace stubframework::methods {
namespace {

using platform::registry::View;

// The pages' reader has a buffer of 260 UTF-16 characters.
constexpr std::size_t kPageReadBytes = 260 * sizeof(char16_t);

View ViewOf(bool is64) {
    return is64 ? View::Wow64_64 : View::Wow64_32;
}

// The flag as the log has always shown it: a VARIANT_BOOL.
int LogFlag(bool value) {
    return value ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace

HRESULT getBaseRegKey(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                      VARIANT* result) {
    const std::string& base = owner.Core().RegistryBase();
    debug::FrameworkDebugMessage(&owner.Framework(), "EMGetBaseRegKey %s", base.c_str());
    ReturnString(result, base);
    return S_OK;
}

HRESULT getDataFromReg(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                       VARIANT* result) {
    const std::string key = StringArgument(params, 0);
    const std::string name = StringArgument(params, 1);
    std::string text;  // stays empty when the value is missing or too long
    core::ReadRegistryText(key, name, text, kPageReadBytes);
    debug::FrameworkDebugMessage(&owner.Framework(), "EMGetDataFromReg args %s %s, Result %s",
                                 name.c_str(), key.c_str(), text.c_str());
    ReturnString(result, text);
    return S_OK;
}

HRESULT setDataToReg(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                     VARIANT* /*result*/) {
    const std::string key = StringArgument(params, 0);
    const std::string name = StringArgument(params, 1);
    const std::string value = StringArgument(params, 2);
    const bool is64 = BoolArgument(params, 3);
    core::WriteRegistryText(key, name, value, ViewOf(is64));
    debug::FrameworkDebugMessage(&owner.Framework(), "EMSetDataToReg %d, %s, %s, %s", LogFlag(is64),
                                 value.c_str(), name.c_str(), key.c_str());
    return S_OK;
}

HRESULT deleteRegKey(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                     VARIANT* /*result*/) {
    const std::string key = StringArgument(params, 0);
    const bool is64 = BoolArgument(params, 1);
    core::DeleteRegistryKey(key, ViewOf(is64));
    debug::FrameworkDebugMessage(&owner.Framework(), "EMDeleteRegKey %d, %s", LogFlag(is64),
                                 key.c_str());
    return S_OK;
}

HRESULT searchRegKey(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    const bool is64 = BoolArgument(params, 0);
    const std::string key = StringArgument(params, 1);
    const std::string subKeys = StringArgument(params, 2);
    const std::string valueName = StringArgument(params, 3);
    debug::FrameworkDebugMessage(&owner.Framework(), "EMSearchRegKey %d %s %s %s", LogFlag(is64),
                                 key.c_str(), subKeys.c_str(), valueName.c_str());
    const bool found =
        core::SearchRegistryKey(key, core::SplitRelativePaths(subKeys), valueName, ViewOf(is64))
            .has_value();
    ReturnBool(result, found);
    return S_OK;
}

}  // namespace stubframework::methods
