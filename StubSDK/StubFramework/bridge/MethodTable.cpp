// The framework's method table: every built-in script method with its
// signature and handler, in registration order (the product's rows follow).
// Adding a method is one row here and one handler in its family's file.
#include "bridge/MethodTable.h"

#include "bridge/ExternalMethods.h"
#include "bridge/PropertyMethods.h"
#include "bridge/WindowMethods.h"

namespace stubframework {
namespace {

using namespace methods;  // NOLINT(google-build-using-namespace): the handlers, by script name

constexpr VARTYPE kString = VT_BSTR;
constexpr VARTYPE kInt = VT_I4;
constexpr VARTYPE kBool = VT_BOOL;
constexpr VARTYPE kCallback = VT_DISPATCH;

// name, flags, arguments (script order), handler, log name written before the checks
constexpr MethodRow kBuiltInMethods[] = {
    {"download", kMethod, {kString, kString, kString, kBool, kBool, kCallback}, NotBuiltYet,
     "EMDownload"},
    {"stopDownload", kMethod, {}, NotBuiltYet, "EMStopDownload"},
    {"install", kMethod, {kString, kString, kInt, kCallback}, NotBuiltYet, "EMInstall"},
    {"closeWindow", kMethod, {}, closeWindow, "ZSClose"},
    {"dragWindow", kMethod, {}, dragWindow, "ZSDragWindow"},
    {"hideWindow", kMethod, {}, hideWindow},
    {"showWindow", kMethod, {}, showWindow},
    {"terminateWindow", kMethod, {}, terminateWindow},
    {"selectFolder", kMethodOrGet, {kString}, selectFolder, "EMSelectFolder"},
    {"startProgram", kMethod, {kString, kString}, startProgram},
    {"messageBox", kMethod, {kString, kString}, messageBox},
    {"restartSystem", kMethod, {kString, kString}, NotBuiltYet},
    {"deleteRegKey", kMethod, {kString, kBool}, NotBuiltYet, "EMDeleteRegKey"},
    {"runAfterReboot", kMethod, {kString}, NotBuiltYet},
    {"undoRunAfterReboot", kMethod, {}, NotBuiltYet},
    {"setWindowSize", kMethod, {kInt, kInt}, setWindowSize},
    {"setProperty", kMethod, {kString, kString}, setProperty, "EMSetProperty"},
    {"setLang", kMethod, {kInt}, NotBuiltYet},
    {"setInstallStatus", kMethod, {kInt}, NotBuiltYet},
    {"setChannel", kMethod, {kString}, NotBuiltYet},
    {"setDataToReg", kMethod, {kString, kString, kString, kBool}, NotBuiltYet, "EMSetDataToReg"},
    {"isFileExists", kMethodOrGet, {kString}, NotBuiltYet},
    {"isSkipSelfUpdate", kMethod, {}, NotBuiltYet},
    {"isNeedSelfUpdate", kMethodOrGet, {kString}, NotBuiltYet},
    {"isSilentLaunchStub", kMethod, {}, NotBuiltYet},
    {"selfUpdate", kMethod, {kString, kCallback}, NotBuiltYet},
    {"createDirectory", kMethodOrGet, {kString}, NotBuiltYet},
    {"initDownloadSize", kMethod, {kString, kString, kBool}, NotBuiltYet, "EMInitDownloadSize"},
    {"trackUserActivity", kMethod, {kString}, NotBuiltYet},
    {"openPage", kMethodOrGet, {kString}, openPage, "EMOpenPage"},
    // Its argument is read as a string without a type check.
    {"runApplication", kMethodOrGet, {kString}, runApplication, "EMRunApplication", false},
    {"executeCommand", kMethodOrGet, {kString}, executeCommand, "EMExecuteCommand"},
    {"updateInstallerList", kMethod, {kString, kString, kBool, kBool, kCallback}, NotBuiltYet},
    {"startRegApps", kMethod, {}, startRegApps, "EMStartRegApps"},
    {"searchRegKey", kMethodOrGet, {kBool, kString, kString, kString}, NotBuiltYet,
     "EMSearchRegKey"},
    {"getProperty", kMethodOrGet, {kString}, getProperty},
    {"getDiskAvailableSpace", kMethodOrGet, {kString}, NotBuiltYet, "EMGetDiskAvailableSpace"},
    {"getOSLang", kMethod, {}, NotBuiltYet},
    {"getLanguageByID", kMethodOrGet, {kInt}, NotBuiltYet},
    {"getParsedInstallLanguage", kMethodOrGet, {kString}, NotBuiltYet},
    {"getFileVersion", kMethodOrGet, {kString, kString}, NotBuiltYet, "EMGetMSIFileVersion"},
    {"getDataFromReg", kMethodOrGet, {kString, kString}, NotBuiltYet, "EMGetDataFromReg"},
    {"getCrc", kMethodOrGet, {kString}, NotBuiltYet},
    {"getOSVersion", kMethod, {}, NotBuiltYet},
    {"getResumeMode", kMethod, {}, NotBuiltYet},
    {"getResourceLocation", kMethod, {}, NotBuiltYet},
    {"getCurrentPath", kMethod, {}, NotBuiltYet, "EMGetCurrentPath"},
    {"getDesktopPath", kMethod, {}, NotBuiltYet, "EMGetDesktopPath"},
    {"getTempPath", kMethodOrGet, {kString}, NotBuiltYet, "EMGetTempPath"},
    {"getBaseRegKey", kMethod, {}, NotBuiltYet, "EMGetBaseRegKey"},
    {"getFileSize", kMethodOrGet, {kString}, NotBuiltYet, "EMGetFileSize"},
    {"getLastInstallError", kMethod, {}, NotBuiltYet, "EMGetLastInstallError"},
    {"checkOS", kMethodOrGet, {kString, kString}, NotBuiltYet, "EMCheckOS"},
    {"getMachineId", kMethod, {}, NotBuiltYet, "EMGetMachineId"},
    {"setUninstallRegistryFromStub", kMethod, {kString, kBool}, NotBuiltYet},
    {"isUninstallModeLaunch", kMethod, {}, NotBuiltYet},
    {"confirmMessageBox", kMethodOrGet, {kString, kString}, confirmMessageBox,
     "EMConfirmMessageBox"},
    {"removeProgram", kMethod, {kString, kBool, kString, kCallback}, NotBuiltYet},
    {"repairProgram", kMethod, {kString, kString, kCallback}, NotBuiltYet},
    {"verifyFileInSpecialDirectory", kMethod, {kString, kString, kCallback}, NotBuiltYet},
    {"cancelVerifyThread", kMethod, {}, NotBuiltYet},
    {"isInEmbargoedCountry", kMethod, {}, NotBuiltYet},
    {"isInternetConnected", kMethod, {}, NotBuiltYet},
    {"getEmbeddedDataFromCurrentExe", kMethodOrGet, {kInt}, NotBuiltYet},
    {"renameFile", kMethodOrGet, {kString, kString}, NotBuiltYet, "EMRenameFile"},
};

}  // namespace

std::span<const MethodRow> BuiltInMethods() {
    return kBuiltInMethods;
}

HRESULT CallMethod(ExternalMethods& owner, const MethodRow& row, WORD flags, DISPPARAMS* params,
                   VARIANT* result) {
    const HRESULT hr = CheckCall(owner, row.signature, flags, params);
    if (FAILED(hr)) {
        return hr;
    }
    return row.handler(owner, flags, params, result);
}

namespace methods {

HRESULT NotBuiltYet(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* /*params*/,
                    VARIANT* /*result*/) {
    return E_NOTIMPL;
}

}  // namespace methods
}  // namespace stubframework
