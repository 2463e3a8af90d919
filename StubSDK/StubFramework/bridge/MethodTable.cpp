// The framework's method table: every built-in script method with its
// signature and handler, in registration order (the product's rows follow).
// Adding a method is one row here and one handler in its family's file.
#include "bridge/MethodTable.h"

#include "bridge/ExternalMethods.h"
#include "bridge/PropertyMethods.h"
#include "bridge/WindowMethods.h"

namespace stubframework {
namespace {

// The handlers, named after their script names.
using namespace methods;

constexpr VARTYPE kStr = VT_BSTR;
constexpr VARTYPE kInt = VT_I4;
constexpr VARTYPE kBool = VT_BOOL;
constexpr VARTYPE kCallback = VT_DISPATCH;

// name, flags, arguments (script order), handler, log name written before the checks
constexpr MethodRow kBuiltInMethods[] = {
    {"download", kMethod, {kStr, kStr, kStr, kBool, kBool, kCallback}, NotBuiltYet, "EMDownload"},
    {"stopDownload", kMethod, {}, NotBuiltYet, "EMStopDownload"},
    {"install", kMethod, {kStr, kStr, kInt, kCallback}, NotBuiltYet, "EMInstall"},
    {"closeWindow", kMethod, {}, closeWindow, "ZSClose"},
    {"dragWindow", kMethod, {}, dragWindow, "ZSDragWindow"},
    {"hideWindow", kMethod, {}, hideWindow},
    {"showWindow", kMethod, {}, showWindow},
    {"terminateWindow", kMethod, {}, terminateWindow},
    {"selectFolder", kMethodOrGet, {kStr}, selectFolder, "EMSelectFolder"},
    {"startProgram", kMethod, {kStr, kStr}, startProgram},
    {"messageBox", kMethod, {kStr, kStr}, messageBox},
    {"restartSystem", kMethod, {kStr, kStr}, NotBuiltYet},
    {"deleteRegKey", kMethod, {kStr, kBool}, NotBuiltYet, "EMDeleteRegKey"},
    {"runAfterReboot", kMethod, {kStr}, NotBuiltYet},
    {"undoRunAfterReboot", kMethod, {}, NotBuiltYet},
    {"setWindowSize", kMethod, {kInt, kInt}, setWindowSize},
    {"setProperty", kMethod, {kStr, kStr}, setProperty, "EMSetProperty"},
    {"setLang", kMethod, {kInt}, NotBuiltYet},
    {"setInstallStatus", kMethod, {kInt}, NotBuiltYet},
    {"setChannel", kMethod, {kStr}, NotBuiltYet},
    {"setDataToReg", kMethod, {kStr, kStr, kStr, kBool}, NotBuiltYet, "EMSetDataToReg"},
    {"isFileExists", kMethodOrGet, {kStr}, NotBuiltYet},
    {"isSkipSelfUpdate", kMethod, {}, NotBuiltYet},
    {"isNeedSelfUpdate", kMethodOrGet, {kStr}, NotBuiltYet},
    {"isSilentLaunchStub", kMethod, {}, NotBuiltYet},
    {"selfUpdate", kMethod, {kStr, kCallback}, NotBuiltYet},
    {"createDirectory", kMethodOrGet, {kStr}, NotBuiltYet},
    {"initDownloadSize", kMethod, {kStr, kStr, kBool}, NotBuiltYet, "EMInitDownloadSize"},
    {"trackUserActivity", kMethod, {kStr}, NotBuiltYet},
    {"openPage", kMethodOrGet, {kStr}, openPage, "EMOpenPage"},
    // Its argument is read as a string without a type check.
    {"runApplication", kMethodOrGet, {kStr}, runApplication, "EMRunApplication", false},
    {"executeCommand", kMethodOrGet, {kStr}, executeCommand, "EMExecuteCommand"},
    {"updateInstallerList", kMethod, {kStr, kStr, kBool, kBool, kCallback}, NotBuiltYet},
    {"startRegApps", kMethod, {}, startRegApps, "EMStartRegApps"},
    {"searchRegKey", kMethodOrGet, {kBool, kStr, kStr, kStr}, NotBuiltYet, "EMSearchRegKey"},
    {"getProperty", kMethodOrGet, {kStr}, getProperty},
    {"getDiskAvailableSpace", kMethodOrGet, {kStr}, NotBuiltYet, "EMGetDiskAvailableSpace"},
    {"getOSLang", kMethod, {}, NotBuiltYet},
    {"getLanguageByID", kMethodOrGet, {kInt}, NotBuiltYet},
    {"getParsedInstallLanguage", kMethodOrGet, {kStr}, NotBuiltYet},
    {"getFileVersion", kMethodOrGet, {kStr, kStr}, NotBuiltYet, "EMGetMSIFileVersion"},
    {"getDataFromReg", kMethodOrGet, {kStr, kStr}, NotBuiltYet, "EMGetDataFromReg"},
    {"getCrc", kMethodOrGet, {kStr}, NotBuiltYet},
    {"getOSVersion", kMethod, {}, NotBuiltYet},
    {"getResumeMode", kMethod, {}, NotBuiltYet},
    {"getResourceLocation", kMethod, {}, NotBuiltYet},
    {"getCurrentPath", kMethod, {}, NotBuiltYet, "EMGetCurrentPath"},
    {"getDesktopPath", kMethod, {}, NotBuiltYet, "EMGetDesktopPath"},
    {"getTempPath", kMethodOrGet, {kStr}, NotBuiltYet, "EMGetTempPath"},
    {"getBaseRegKey", kMethod, {}, NotBuiltYet, "EMGetBaseRegKey"},
    {"getFileSize", kMethodOrGet, {kStr}, NotBuiltYet, "EMGetFileSize"},
    {"getLastInstallError", kMethod, {}, NotBuiltYet, "EMGetLastInstallError"},
    {"checkOS", kMethodOrGet, {kStr, kStr}, NotBuiltYet, "EMCheckOS"},
    {"getMachineId", kMethod, {}, NotBuiltYet, "EMGetMachineId"},
    {"setUninstallRegistryFromStub", kMethod, {kStr, kBool}, NotBuiltYet},
    {"isUninstallModeLaunch", kMethod, {}, NotBuiltYet},
    {"confirmMessageBox", kMethodOrGet, {kStr, kStr}, confirmMessageBox, "EMConfirmMessageBox"},
    {"removeProgram", kMethod, {kStr, kBool, kStr, kCallback}, NotBuiltYet},
    {"repairProgram", kMethod, {kStr, kStr, kCallback}, NotBuiltYet},
    {"verifyFileInSpecialDirectory", kMethod, {kStr, kStr, kCallback}, NotBuiltYet},
    {"cancelVerifyThread", kMethod, {}, NotBuiltYet},
    {"isInEmbargoedCountry", kMethod, {}, NotBuiltYet},
    {"isInternetConnected", kMethod, {}, NotBuiltYet},
    {"getEmbeddedDataFromCurrentExe", kMethodOrGet, {kInt}, NotBuiltYet},
    {"renameFile", kMethodOrGet, {kStr, kStr}, NotBuiltYet, "EMRenameFile"},
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
