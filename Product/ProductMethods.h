// The product's own script methods, registered after the framework's.
#pragma once

#include "bridge/MethodSignature.h"

namespace myexternalmethods {

using stubframework::kAnyFlags;
using stubframework::kMethod;
using stubframework::kMethodOrGet;
using stubframework::MethodSignature;

inline constexpr MethodSignature kGetSourceID{"getSourceID", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSignature kMinimizedWindow{"minimizedWindow", kMethod, {}};
inline constexpr MethodSignature kTrackingByAnalyticsSDK{
    "trackingByAnalyticsSDK", kMethod, {VT_BSTR, VT_BSTR}};
inline constexpr MethodSignature kSetTrackingProperty{
    "setTrackingProperty", kMethod, {VT_I4, VT_BSTR}};
inline constexpr MethodSignature kGetFileVersionEx{
    "getFileVersionEx", kMethodOrGet, {VT_BSTR, VT_BSTR}};
// One handler serves both names; it runs no checks.
inline constexpr MethodSignature kGetSystemFolder{"getSystemFolder", kAnyFlags, {}};
inline constexpr MethodSignature kGetOfficeVersion{"getOfficeVersion", kMethodOrGet, {VT_BOOL}};
inline constexpr MethodSignature kIsRunning{"isRunning", kMethodOrGet, {VT_BSTR, VT_BSTR, VT_BSTR}};

// Registers the product methods, in their order.
void RegisterProductMethods(stubframework::ExternalMethods& methods);

}  // namespace myexternalmethods
