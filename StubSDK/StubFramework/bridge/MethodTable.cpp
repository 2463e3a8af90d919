// The framework's method table: every built-in script method with its
// signature and handler, in registration order (the product's rows follow).
// Adding a method is one row here and one handler in its family's file.
#include "bridge/MethodTable.h"

#include "bridge/DownloadMethods.h"
#include "bridge/ExternalMethods.h"
#include "bridge/FileMethods.h"
#include "bridge/InstallMethods.h"
#include "bridge/PackageMethods.h"
#include "bridge/PropertyMethods.h"
#include "bridge/RegistryMethods.h"
#include "bridge/SessionMethods.h"
#include "bridge/SystemMethods.h"
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
    {"download", kMethod, {kStr, kStr, kStr, kBool, kBool, kCallback}, download, "EMDownload"},
    {"stopDownload", kMethod, {}, stopDownload, "EMStopDownload"},
    {"install", kMethod, {kStr, kStr, kInt, kCallback}, install, "EMInstall"},
    {"closeWindow", kMethod, {}, closeWindow, "ZSClose"},
    {"dragWindow", kMethod, {}, dragWindow, "ZSDragWindow"},
    {"hideWindow", kMethod, {}, hideWindow},
    {"showWindow", kMethod, {}, showWindow},
    {"terminateWindow", kMethod, {}, terminateWindow},
    {"selectFolder", kMethodOrGet, {kStr}, selectFolder, "EMSelectFolder"},
    {"startProgram", kMethod, {kStr, kStr}, startProgram},
    {"messageBox", kMethod, {kStr, kStr}, messageBox},
    {"restartSystem", kMethod, {kStr, kStr}, restartSystem},
    {"deleteRegKey", kMethod, {kStr, kBool}, deleteRegKey, "EMDeleteRegKey"},
    {"runAfterReboot", kMethod, {kStr}, runAfterReboot},
    {"undoRunAfterReboot", kMethod, {}, undoRunAfterReboot},
    {"setWindowSize", kMethod, {kInt, kInt}, setWindowSize},
    {"setProperty", kMethod, {kStr, kStr}, setProperty, "EMSetProperty"},
    {"setLang", kMethod, {kInt}, setLang},
    {"setInstallStatus", kMethod, {kInt}, setInstallStatus},
    {"setChannel", kMethod, {kStr}, setChannel},
    {"setDataToReg", kMethod, {kStr, kStr, kStr, kBool}, setDataToReg, "EMSetDataToReg"},
    {"isFileExists", kMethodOrGet, {kStr}, isFileExists},
    {"isSkipSelfUpdate", kMethod, {}, isSkipSelfUpdate},
    {"isNeedSelfUpdate", kMethodOrGet, {kStr}, isNeedSelfUpdate},
    {"isSilentLaunchStub", kMethod, {}, isSilentLaunchStub},
    {"selfUpdate", kMethod, {kStr, kCallback}, selfUpdate},
    {"createDirectory", kMethodOrGet, {kStr}, createDirectory},
    {"initDownloadSize", kMethod, {kStr, kStr, kBool}, initDownloadSize, "EMInitDownloadSize"},
    {"trackUserActivity", kMethod, {kStr}, trackUserActivity},
    {"openPage", kMethodOrGet, {kStr}, openPage, "EMOpenPage"},
    // Its argument is read as a string without a type check.
    {"runApplication", kMethodOrGet, {kStr}, runApplication, "EMRunApplication", false},
    {"executeCommand", kMethodOrGet, {kStr}, executeCommand, "EMExecuteCommand"},
    {"updateInstallerList",
     kMethod,
     {kStr, kStr, kBool, kBool, kCallback},
     updateInstallerList,
     "EMUpdateInstallerList"},
    {"startRegApps", kMethod, {}, startRegApps, "EMStartRegApps"},
    {"searchRegKey", kMethodOrGet, {kBool, kStr, kStr, kStr}, searchRegKey, "EMSearchRegKey"},
    {"getProperty", kMethodOrGet, {kStr}, getProperty},
    {"getDiskAvailableSpace",
     kMethodOrGet,
     {kStr},
     getDiskAvailableSpace,
     "EMGetDiskAvailableSpace"},
    {"getOSLang", kMethod, {}, getOSLang},
    {"getLanguageByID", kMethodOrGet, {kInt}, getLanguageByID},
    {"getParsedInstallLanguage", kMethodOrGet, {kStr}, getParsedInstallLanguage},
    {"getFileVersion", kMethodOrGet, {kStr, kStr}, getFileVersion, "EMGetMSIFileVersion"},
    {"getDataFromReg", kMethodOrGet, {kStr, kStr}, getDataFromReg, "EMGetDataFromReg"},
    {"getCrc", kMethodOrGet, {kStr}, getCrc, "EMGetCRC"},
    {"getOSVersion", kMethod, {}, getOSVersion},
    {"getResumeMode", kMethod, {}, getResumeMode},
    {"getResourceLocation", kMethod, {}, getResourceLocation},
    {"getCurrentPath", kMethod, {}, getCurrentPath, "EMGetCurrentPath"},
    {"getDesktopPath", kMethod, {}, getDesktopPath, "EMGetDesktopPath"},
    {"getTempPath", kMethodOrGet, {kStr}, getTempPath, "EMGetTempPath"},
    {"getBaseRegKey", kMethod, {}, getBaseRegKey, "EMGetBaseRegKey"},
    {"getFileSize", kMethodOrGet, {kStr}, getFileSize, "EMGetFileSize"},
    {"getLastInstallError", kMethod, {}, getLastInstallError, "EMGetLastInstallError"},
    {"checkOS", kMethodOrGet, {kStr, kStr}, checkOS, "EMCheckOS"},
    {"getMachineId", kMethod, {}, getMachineId, "EMGetMachineId"},
    {"setUninstallRegistryFromStub", kMethod, {kStr, kBool}, setUninstallRegistryFromStub},
    {"isUninstallModeLaunch", kMethod, {}, isUninstallModeLaunch, "EMIsUninstallModeLaunch"},
    {"confirmMessageBox", kMethodOrGet, {kStr, kStr}, confirmMessageBox, "EMConfirmMessageBox"},
    {"removeProgram", kMethod, {kStr, kBool, kStr, kCallback}, removeProgram},
    {"repairProgram", kMethod, {kStr, kStr, kCallback}, repairProgram},
    {"verifyFileInSpecialDirectory",
     kMethod,
     {kStr, kStr, kCallback},
     verifyFileInSpecialDirectory},
    {"cancelVerifyThread", kMethod, {}, cancelVerifyThread},
    {"isInEmbargoedCountry", kMethod, {}, isInEmbargoedCountry},
    {"isInternetConnected", kMethod, {}, isInternetConnected},
    {"getEmbeddedDataFromCurrentExe", kMethodOrGet, {kInt}, getEmbeddedDataFromCurrentExe},
    {"renameFile", kMethodOrGet, {kStr, kStr}, renameFile, "EMRenameFile"},
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

}  // namespace stubframework
