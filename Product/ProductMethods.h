// The product's own script methods, registered after the framework's.
#pragma once

#include "bridge/MethodSpec.h"

namespace myexternalmethods {

using stubframework::kAnyFlags;
using stubframework::kMethod;
using stubframework::kMethodOrGet;
using stubframework::MethodSpec;

inline constexpr MethodSpec kGetSourceID{"getSourceID", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSpec kMinimizedWindow{"minimizedWindow", kMethod, {}};
inline constexpr MethodSpec kTrackingByAnalyticsSDK{
    "trackingByAnalyticsSDK", kMethod, {VT_BSTR, VT_BSTR}};
inline constexpr MethodSpec kSetTrackingProperty{"setTrackingProperty", kMethod, {VT_I4, VT_BSTR}};
inline constexpr MethodSpec kGetFileVersionEx{"getFileVersionEx", kMethodOrGet, {VT_BSTR, VT_BSTR}};
// One handler serves both names; it runs no checks.
inline constexpr MethodSpec kGetSystemFolder{"getSystemFolder", kAnyFlags, {}};
inline constexpr MethodSpec kGetOfficeVersion{"getOfficeVersion", kMethodOrGet, {VT_BOOL}};
inline constexpr MethodSpec kIsRunning{"isRunning", kMethodOrGet, {VT_BSTR, VT_BSTR, VT_BSTR}};

// Registers the product methods, in their order.
void RegisterProductMethods(stubframework::ExternalMethods& methods);

}  // namespace myexternalmethods
