// The product's method table: each row a script method with its signature
// and handler, registered after the framework's rows.
#include "ProductMethods.h"

#include <cstdint>
#include <string>

#include "MyExternalMethods.h"
#include "OfficeVersion.h"
#include "bridge/MethodSignature.h"
#include "platform/system.h"

namespace myexternalmethods {
namespace {

using stubframework::ExternalMethods;
using stubframework::methods::Log;
namespace reg = stubframework::platform::registry;
namespace debug = stubframework::debug;

MyExternalMethods& Product(ExternalMethods& owner) {
    return static_cast<MyExternalMethods&>(owner);
}

HRESULT getSourceID(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    debug::FrameworkDebugMessage(Log(owner), "EMGetSourceID");
    const std::string code = stubframework::StringArgument(params, 0);
    const std::string id;  // this product has none
    stubframework::ReturnString(result, id);
    debug::FrameworkDebugMessage(Log(owner), "EMGetSourceID args %s, Result %s", code.c_str(),
                                 id.c_str());
    return S_OK;
}

HRESULT trackingByAnalyticsSDK(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                               VARIANT* /*result*/) {
    MyExternalMethods& product = Product(owner);
    // Composed here, on the window thread, where the pages set the values.
    const std::string text =
        EventPropertyText(stubframework::StringArgument(params, 1), product.Tracking());
    product.Sender().Send(stubframework::StringArgument(params, 0), text);
    return S_OK;
}

HRESULT setTrackingProperty(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                            VARIANT* /*result*/) {
    const auto id = static_cast<std::uint32_t>(stubframework::IntArgument(params, 0));
    const std::string value = stubframework::StringArgument(params, 1);
    if (const char* name = SetTrackingProperty(Product(owner).Tracking(), id, value)) {
        debug::FrameworkDebugMessage(Log(owner), "EMSetTrackingProperty %s: %s", name,
                                     value.c_str());
    }
    return S_OK;
}

HRESULT getFileVersionEx(ExternalMethods& owner, WORD flags, DISPPARAMS* params, VARIANT* result) {
    // No file-system redirection to switch off here: the framework's method
    // as it stands, its checks included.
    const auto row = owner.Methods().find("getFileVersion");
    if (row == owner.Methods().end()) {
        return DISP_E_MEMBERNOTFOUND;
    }
    return stubframework::CallMethod(owner, row->second, flags, params, result);
}

HRESULT getSystemFolder(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* /*params*/,
                        VARIANT* result) {
    if (result != nullptr) {
        stubframework::ReturnString(result, stubframework::platform::system::SystemFolder());
    }
    return S_OK;
}

HRESULT getOfficeVersion(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* params,
                         VARIANT* result) {
    const bool is64 = stubframework::BoolArgument(params, 0);
    stubframework::ReturnString(result,
                                OfficeVersion(is64 ? reg::View::Wow64_64 : reg::View::Wow64_32));
    return S_OK;
}

using stubframework::kAnyFlags;
using stubframework::kMethod;
using stubframework::kMethodOrGet;
using stubframework::MethodRow;
using stubframework::methods::NotBuiltYet;

constexpr VARTYPE kStr = VT_BSTR;
constexpr VARTYPE kInt = VT_I4;
constexpr VARTYPE kBool = VT_BOOL;

// name, flags, arguments (script order), handler, log name written before the checks
constexpr MethodRow kProductMethods[] = {
    {"getSourceID", kMethodOrGet, {kStr}, getSourceID},
    {"minimizedWindow", kMethod, {}, NotBuiltYet, "EMMinimizedWindow"},
    {"trackingByAnalyticsSDK",
     kMethod,
     {kStr, kStr},
     trackingByAnalyticsSDK,
     "EMTrackingByAnalyticsSDK"},
    {"setTrackingProperty", kMethod, {kInt, kStr}, setTrackingProperty, "EMSetTrackingProperty"},
    {"getFileVersionEx", kMethodOrGet, {kStr, kStr}, getFileVersionEx},
    // One handler for both names, and no checks.
    {"getSystemFolder", kAnyFlags, {}, getSystemFolder},
    {"getSystemFolderEx", kAnyFlags, {}, getSystemFolder},
    {"getOfficeVersion", kMethodOrGet, {kBool}, getOfficeVersion},
    {"isRunning", kMethodOrGet, {kStr, kStr, kStr}, NotBuiltYet},
};

}  // namespace

std::span<const MethodRow> ProductMethods() {
    return kProductMethods;
}

}  // namespace myexternalmethods
