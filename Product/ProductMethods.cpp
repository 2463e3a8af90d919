#include "ProductMethods.h"

#include "bridge/ExternalMethods.h"

namespace myexternalmethods {

using stubframework::NotBuiltYet;

namespace {

template <const MethodSignature& Signature>
void Register(stubframework::ExternalMethods& methods, const char* name) {
    methods.RegisterMethod(name, NotBuiltYet<Signature>, stubframework::ScriptFlags(Signature));
}

}  // namespace

void RegisterProductMethods(stubframework::ExternalMethods& methods) {
    Register<kGetSourceID>(methods, "getSourceID");
    Register<kMinimizedWindow>(methods, "minimizedWindow");
    Register<kTrackingByAnalyticsSDK>(methods, "trackingByAnalyticsSDK");
    Register<kSetTrackingProperty>(methods, "setTrackingProperty");
    Register<kGetFileVersionEx>(methods, "getFileVersionEx");
    Register<kGetSystemFolder>(methods, "getSystemFolder");
    Register<kGetSystemFolder>(methods, "getSystemFolderEx");
    Register<kGetOfficeVersion>(methods, "getOfficeVersion");
    Register<kIsRunning>(methods, "isRunning");
}

}  // namespace myexternalmethods
