// The product's method table: each row a script method with its signature
// and handler, registered after the framework's rows.
#include "ProductMethods.h"

namespace myexternalmethods {
namespace {

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
    {"getSourceID", kMethodOrGet, {kStr}, NotBuiltYet},
    {"minimizedWindow", kMethod, {}, NotBuiltYet, "EMMinimizedWindow"},
    {"trackingByAnalyticsSDK", kMethod, {kStr, kStr}, NotBuiltYet, "EMTrackingByAnalyticsSDK"},
    {"setTrackingProperty", kMethod, {kInt, kStr}, NotBuiltYet, "EMSetTrackingProperty"},
    {"getFileVersionEx", kMethodOrGet, {kStr, kStr}, NotBuiltYet},
    // One handler for both names, and no checks.
    {"getSystemFolder", kAnyFlags, {}, NotBuiltYet},
    {"getSystemFolderEx", kAnyFlags, {}, NotBuiltYet},
    {"getOfficeVersion", kMethodOrGet, {kBool}, NotBuiltYet},
    {"isRunning", kMethodOrGet, {kStr, kStr, kStr}, NotBuiltYet},
};

}  // namespace

std::span<const MethodRow> ProductMethods() {
    return kProductMethods;
}

}  // namespace myexternalmethods
