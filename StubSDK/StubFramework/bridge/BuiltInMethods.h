// The framework's own script methods, in the order the table registers
// them. Each row fixes the name, the invocation flags and the argument
// types (script order) that the handler's preamble checks.
#pragma once

#include "bridge/MethodSignature.h"

namespace stubframework::methods {

inline constexpr MethodSignature kDownload{
    "download", kMethod, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BOOL, VT_DISPATCH}, "EMDownload"};
inline constexpr MethodSignature kStopDownload{"stopDownload", kMethod, {}};
inline constexpr MethodSignature kInstall{
    "install", kMethod, {VT_BSTR, VT_BSTR, VT_I4, VT_DISPATCH}};
inline constexpr MethodSignature kCloseWindow{"closeWindow", kMethod, {}};
inline constexpr MethodSignature kDragWindow{"dragWindow", kMethod, {}};
inline constexpr MethodSignature kHideWindow{"hideWindow", kMethod, {}};
inline constexpr MethodSignature kShowWindow{"showWindow", kMethod, {}};
inline constexpr MethodSignature kTerminateWindow{"terminateWindow", kMethod, {}};
inline constexpr MethodSignature kSelectFolder{
    "selectFolder", kMethodOrGet, {VT_BSTR}, "EMSelectFolder"};
inline constexpr MethodSignature kStartProgram{"startProgram", kMethod, {VT_BSTR, VT_BSTR}};
inline constexpr MethodSignature kMessageBox{"messageBox", kMethod, {VT_BSTR, VT_BSTR}};
inline constexpr MethodSignature kRestartSystem{"restartSystem", kMethod, {VT_BSTR, VT_BSTR}};
inline constexpr MethodSignature kDeleteRegKey{
    "deleteRegKey", kMethod, {VT_BSTR, VT_BOOL}, "EMDeleteRegKey"};
inline constexpr MethodSignature kRunAfterReboot{"runAfterReboot", kMethod, {VT_BSTR}};
inline constexpr MethodSignature kUndoRunAfterReboot{"undoRunAfterReboot", kMethod, {}};
inline constexpr MethodSignature kSetWindowSize{"setWindowSize", kMethod, {VT_I4, VT_I4}};
inline constexpr MethodSignature kSetProperty{
    "setProperty", kMethod, {VT_BSTR, VT_BSTR}, "EMSetProperty"};
inline constexpr MethodSignature kSetLang{"setLang", kMethod, {VT_I4}};
inline constexpr MethodSignature kSetInstallStatus{"setInstallStatus", kMethod, {VT_I4}};
inline constexpr MethodSignature kSetChannel{"setChannel", kMethod, {VT_BSTR}};
inline constexpr MethodSignature kSetDataToReg{
    "setDataToReg", kMethod, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL}, "EMSetDataToReg"};
inline constexpr MethodSignature kIsFileExists{"isFileExists", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSignature kIsSkipSelfUpdate{"isSkipSelfUpdate", kMethod, {}};
inline constexpr MethodSignature kIsNeedSelfUpdate{"isNeedSelfUpdate", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSignature kIsSilentLaunchStub{"isSilentLaunchStub", kMethod, {}};
inline constexpr MethodSignature kSelfUpdate{"selfUpdate", kMethod, {VT_BSTR, VT_DISPATCH}};
inline constexpr MethodSignature kCreateDirectory{"createDirectory", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSignature kInitDownloadSize{
    "initDownloadSize", kMethod, {VT_BSTR, VT_BSTR, VT_BOOL}};
inline constexpr MethodSignature kTrackUserActivity{"trackUserActivity", kMethod, {VT_BSTR}};
inline constexpr MethodSignature kOpenPage{"openPage", kMethodOrGet, {VT_BSTR}, "EMOpenPage"};
inline constexpr MethodSignature kRunApplication{
    "runApplication", kMethodOrGet, {VT_BSTR}, nullptr, false};
inline constexpr MethodSignature kExecuteCommand{"executeCommand", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSignature kUpdateInstallerList{
    "updateInstallerList", kMethod, {VT_BSTR, VT_BSTR, VT_BOOL, VT_BOOL, VT_DISPATCH}};
inline constexpr MethodSignature kStartRegApps{"startRegApps", kMethod, {}};
inline constexpr MethodSignature kSearchRegKey{
    "searchRegKey", kMethodOrGet, {VT_BOOL, VT_BSTR, VT_BSTR, VT_BSTR}, "EMSearchRegKey"};
inline constexpr MethodSignature kGetProperty{"getProperty", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSignature kGetDiskAvailableSpace{
    "getDiskAvailableSpace", kMethodOrGet, {VT_BSTR}, "EMGetDiskAvailableSpace"};
inline constexpr MethodSignature kGetOSLang{"getOSLang", kMethod, {}};
inline constexpr MethodSignature kGetLanguageByID{"getLanguageByID", kMethodOrGet, {VT_I4}};
inline constexpr MethodSignature kGetParsedInstallLanguage{
    "getParsedInstallLanguage", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSignature kGetFileVersion{
    "getFileVersion", kMethodOrGet, {VT_BSTR, VT_BSTR}, "EMGetMSIFileVersion"};
inline constexpr MethodSignature kGetDataFromReg{
    "getDataFromReg", kMethodOrGet, {VT_BSTR, VT_BSTR}, "EMGetDataFromReg"};
inline constexpr MethodSignature kGetCrc{"getCrc", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSignature kGetOSVersion{"getOSVersion", kMethod, {}};
inline constexpr MethodSignature kGetResumeMode{"getResumeMode", kMethod, {}};
inline constexpr MethodSignature kGetResourceLocation{"getResourceLocation", kMethod, {}};
inline constexpr MethodSignature kGetCurrentPath{"getCurrentPath", kMethod, {}, "EMGetCurrentPath"};
inline constexpr MethodSignature kGetDesktopPath{"getDesktopPath", kMethod, {}, "EMGetDesktopPath"};
inline constexpr MethodSignature kGetTempPath{
    "getTempPath", kMethodOrGet, {VT_BSTR}, "EMGetTempPath"};
inline constexpr MethodSignature kGetBaseRegKey{"getBaseRegKey", kMethod, {}, "EMGetBaseRegKey"};
inline constexpr MethodSignature kGetFileSize{
    "getFileSize", kMethodOrGet, {VT_BSTR}, "EMGetFileSize"};
inline constexpr MethodSignature kGetLastInstallError{"getLastInstallError", kMethod, {}};
inline constexpr MethodSignature kCheckOS{"checkOS", kMethodOrGet, {VT_BSTR, VT_BSTR}, "EMCheckOS"};
inline constexpr MethodSignature kGetMachineId{"getMachineId", kMethod, {}, "EMGetMachineId"};
inline constexpr MethodSignature kSetUninstallRegistryFromStub{
    "setUninstallRegistryFromStub", kMethod, {VT_BSTR, VT_BOOL}};
inline constexpr MethodSignature kIsUninstallModeLaunch{"isUninstallModeLaunch", kMethod, {}};
inline constexpr MethodSignature kConfirmMessageBox{
    "confirmMessageBox", kMethodOrGet, {VT_BSTR, VT_BSTR}, "EMConfirmMessageBox"};
inline constexpr MethodSignature kRemoveProgram{
    "removeProgram", kMethod, {VT_BSTR, VT_BOOL, VT_BSTR, VT_DISPATCH}};
inline constexpr MethodSignature kRepairProgram{
    "repairProgram", kMethod, {VT_BSTR, VT_BSTR, VT_DISPATCH}};
inline constexpr MethodSignature kVerifyFileInSpecialDirectory{
    "verifyFileInSpecialDirectory", kMethod, {VT_BSTR, VT_BSTR, VT_DISPATCH}};
inline constexpr MethodSignature kCancelVerifyThread{"cancelVerifyThread", kMethod, {}};
inline constexpr MethodSignature kIsInEmbargoedCountry{"isInEmbargoedCountry", kMethod, {}};
inline constexpr MethodSignature kIsInternetConnected{"isInternetConnected", kMethod, {}};
inline constexpr MethodSignature kGetEmbeddedDataFromCurrentExe{
    "getEmbeddedDataFromCurrentExe", kMethodOrGet, {VT_I4}};
inline constexpr MethodSignature kRenameFile{
    "renameFile", kMethodOrGet, {VT_BSTR, VT_BSTR}, "EMRenameFile"};

}  // namespace stubframework::methods

namespace stubframework {

// Registers every built-in method with its handler, in table order.
void RegisterBuiltInMethods(ExternalMethods& methods);

}  // namespace stubframework
