// The product's method table: each row a script method with its signature
// and handler, registered after the framework's rows.
#include "ProductMethods.h"

#include <cstdint>
#include <string>

#include "MyExternalMethods.h"
#include "OfficeVersion.h"
#include "bridge/MethodSignature.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/window.h"

namespace myexternalmethods {
namespace {

using stubframework::ExternalMethods;
using stubframework::methods::Log;
namespace reg = stubframework::platform::registry;
namespace debug = stubframework::debug;
namespace window = stubframework::platform::window;

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

HRESULT minimizedWindow(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                        VARIANT* /*result*/) {
    window::Minimize(owner.HostWindow());
    return S_OK;
}

HRESULT trackingByAnalyticsSDK(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                               VARIANT* /*result*/) {
    MyExternalMethods& product = Product(owner);
    // Composed here, on the window thread, where the pages set the values.
    const std::string text =
        EventPropertyText(stubframework::StringArgument(params, 1), product.Tracking());
    product.SendEvent(stubframework::StringArgument(params, 0), text);
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

// The box has no owner: it stands for the program found running, not for
// the wizard, which may sit minimised behind it.
HRESULT isRunning(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    const std::string program = stubframework::StringArgument(params, 0);
    const std::string title = stubframework::StringArgument(params, 1);
    const std::string text = stubframework::StringArgument(params, 2);
    bool running = false;
    while (stubframework::platform::process::IsProgramRunning(program)) {
        if (window::ShowMessageBox(nullptr, text, title, window::MessageButtons::RetryCancel) !=
            window::MessageAnswer::Retry) {
            running = true;
            break;
        }
    }
    stubframework::ReturnBool(result, running);
    return S_OK;
}

using stubframework::kAnyFlags;
using stubframework::kMethod;
using stubframework::kMethodOrGet;
using stubframework::MethodRow;

constexpr VARTYPE kStr = VT_BSTR;
constexpr VARTYPE kInt = VT_I4;
constexpr VARTYPE kBool = VT_BOOL;

// name, flags, arguments (script order), handler, log name written before the checks
constexpr MethodRow kProductMethods[] = {
    {"getSourceID", kMethodOrGet, {kStr}, getSourceID},
    {"minimizedWindow", kMethod, {}, minimizedWindow, "EMMinimizedWindow"},
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
    {"isRunning", kMethodOrGet, {kStr, kStr, kStr}, isRunning},
};

}  // namespace

std::span<const MethodRow> ProductMethods() {
    return kProductMethods;
}

}  // namespace myexternalmethods
