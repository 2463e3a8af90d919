#include "ProductMethods.h"

#include "bridge/ExternalMethods.h"

namespace myexternalmethods {

using stubframework::NotBuiltYet;

void RegisterProductMethods(stubframework::ExternalMethods& methods) {
    methods.RegisterMethod("getSourceID", NotBuiltYet<kGetSourceID>);
    methods.RegisterMethod("minimizedWindow", NotBuiltYet<kMinimizedWindow>);
    methods.RegisterMethod("trackingByAnalyticsSDK", NotBuiltYet<kTrackingByAnalyticsSDK>);
    methods.RegisterMethod("setTrackingProperty", NotBuiltYet<kSetTrackingProperty>);
    methods.RegisterMethod("getFileVersionEx", NotBuiltYet<kGetFileVersionEx>);
    methods.RegisterMethod("getSystemFolder", NotBuiltYet<kGetSystemFolder>);
    methods.RegisterMethod("getSystemFolderEx", NotBuiltYet<kGetSystemFolder>);
    methods.RegisterMethod("getOfficeVersion", NotBuiltYet<kGetOfficeVersion>);
    methods.RegisterMethod("isRunning", NotBuiltYet<kIsRunning>);
}

}  // namespace myexternalmethods
