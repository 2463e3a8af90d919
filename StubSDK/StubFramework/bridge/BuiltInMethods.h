// The framework's own script methods, in the order the table registers
// them. Each row fixes the name, the invocation flags and the argument
// types (script order) that the handler's preamble checks.
#pragma once

#include "bridge/MethodSpec.h"

namespace stubframework::methods {

inline constexpr MethodSpec kDownload{
    "download", kMethod, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL, VT_BOOL, VT_DISPATCH}, "EMDownload"};
inline constexpr MethodSpec kStopDownload{"stopDownload", kMethod, {}};
inline constexpr MethodSpec kInstall{"install", kMethod, {VT_BSTR, VT_BSTR, VT_I4, VT_DISPATCH}};
inline constexpr MethodSpec kCloseWindow{"closeWindow", kMethod, {}};
inline constexpr MethodSpec kDragWindow{"dragWindow", kMethod, {}};
inline constexpr MethodSpec kHideWindow{"hideWindow", kMethod, {}};
inline constexpr MethodSpec kShowWindow{"showWindow", kMethod, {}};
inline constexpr MethodSpec kTerminateWindow{"terminateWindow", kMethod, {}};
inline constexpr MethodSpec kSelectFolder{
    "selectFolder", kMethodOrGet, {VT_BSTR}, "EMSelectFolder"};
inline constexpr MethodSpec kStartProgram{"startProgram", kMethod, {VT_BSTR, VT_BSTR}};
inline constexpr MethodSpec kMessageBox{"messageBox", kMethod, {VT_BSTR, VT_BSTR}};
inline constexpr MethodSpec kRestartSystem{"restartSystem", kMethod, {VT_BSTR, VT_BSTR}};
inline constexpr MethodSpec kDeleteRegKey{
    "deleteRegKey", kMethod, {VT_BSTR, VT_BOOL}, "EMDeleteRegKey"};
inline constexpr MethodSpec kRunAfterReboot{"runAfterReboot", kMethod, {VT_BSTR}};
inline constexpr MethodSpec kUndoRunAfterReboot{"undoRunAfterReboot", kMethod, {}};
inline constexpr MethodSpec kSetWindowSize{"setWindowSize", kMethod, {VT_I4, VT_I4}};
inline constexpr MethodSpec kSetProperty{
    "setProperty", kMethod, {VT_BSTR, VT_BSTR}, "EMSetProperty"};
inline constexpr MethodSpec kSetLang{"setLang", kMethod, {VT_I4}};
inline constexpr MethodSpec kSetInstallStatus{"setInstallStatus", kMethod, {VT_I4}};
inline constexpr MethodSpec kSetChannel{"setChannel", kMethod, {VT_BSTR}};
inline constexpr MethodSpec kSetDataToReg{
    "setDataToReg", kMethod, {VT_BSTR, VT_BSTR, VT_BSTR, VT_BOOL}, "EMSetDataToReg"};
inline constexpr MethodSpec kIsFileExists{"isFileExists", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSpec kIsSkipSelfUpdate{"isSkipSelfUpdate", kMethod, {}};
inline constexpr MethodSpec kIsNeedSelfUpdate{"isNeedSelfUpdate", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSpec kIsSilentLaunchStub{"isSilentLaunchStub", kMethod, {}};
inline constexpr MethodSpec kSelfUpdate{"selfUpdate", kMethod, {VT_BSTR, VT_DISPATCH}};
inline constexpr MethodSpec kCreateDirectory{"createDirectory", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSpec kInitDownloadSize{
    "initDownloadSize", kMethod, {VT_BSTR, VT_BSTR, VT_BOOL}};
inline constexpr MethodSpec kTrackUserActivity{"trackUserActivity", kMethod, {VT_BSTR}};
inline constexpr MethodSpec kOpenPage{"openPage", kMethodOrGet, {VT_BSTR}, "EMOpenPage"};
inline constexpr MethodSpec kRunApplication{
    "runApplication", kMethodOrGet, {VT_BSTR}, nullptr, false};
inline constexpr MethodSpec kExecuteCommand{"executeCommand", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSpec kUpdateInstallerList{
    "updateInstallerList", kMethod, {VT_BSTR, VT_BSTR, VT_BOOL, VT_BOOL, VT_DISPATCH}};
inline constexpr MethodSpec kStartRegApps{"startRegApps", kMethod, {}};
inline constexpr MethodSpec kSearchRegKey{
    "searchRegKey", kMethodOrGet, {VT_BOOL, VT_BSTR, VT_BSTR, VT_BSTR}, "EMSearchRegKey"};
inline constexpr MethodSpec kGetProperty{"getProperty", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSpec kGetDiskAvailableSpace{
    "getDiskAvailableSpace", kMethodOrGet, {VT_BSTR}, "EMGetDiskAvailableSpace"};
inline constexpr MethodSpec kGetOSLang{"getOSLang", kMethod, {}};
inline constexpr MethodSpec kGetLanguageByID{"getLanguageByID", kMethodOrGet, {VT_I4}};
inline constexpr MethodSpec kGetParsedInstallLanguage{
    "getParsedInstallLanguage", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSpec kGetFileVersion{
    "getFileVersion", kMethodOrGet, {VT_BSTR, VT_BSTR}, "EMGetMSIFileVersion"};
inline constexpr MethodSpec kGetDataFromReg{
    "getDataFromReg", kMethodOrGet, {VT_BSTR, VT_BSTR}, "EMGetDataFromReg"};
inline constexpr MethodSpec kGetCrc{"getCrc", kMethodOrGet, {VT_BSTR}};
inline constexpr MethodSpec kGetOSVersion{"getOSVersion", kMethod, {}};
inline constexpr MethodSpec kGetResumeMode{"getResumeMode", kMethod, {}};
inline constexpr MethodSpec kGetResourceLocation{"getResourceLocation", kMethod, {}};
inline constexpr MethodSpec kGetCurrentPath{"getCurrentPath", kMethod, {}, "EMGetCurrentPath"};
inline constexpr MethodSpec kGetDesktopPath{"getDesktopPath", kMethod, {}, "EMGetDesktopPath"};
inline constexpr MethodSpec kGetTempPath{"getTempPath", kMethodOrGet, {VT_BSTR}, "EMGetTempPath"};
inline constexpr MethodSpec kGetBaseRegKey{"getBaseRegKey", kMethod, {}, "EMGetBaseRegKey"};
inline constexpr MethodSpec kGetFileSize{"getFileSize", kMethodOrGet, {VT_BSTR}, "EMGetFileSize"};
inline constexpr MethodSpec kGetLastInstallError{"getLastInstallError", kMethod, {}};
inline constexpr MethodSpec kCheckOS{"checkOS", kMethodOrGet, {VT_BSTR, VT_BSTR}, "EMCheckOS"};
inline constexpr MethodSpec kGetMachineId{"getMachineId", kMethod, {}, "EMGetMachineId"};
inline constexpr MethodSpec kSetUninstallRegistryFromStub{
    "setUninstallRegistryFromStub", kMethod, {VT_BSTR, VT_BOOL}};
inline constexpr MethodSpec kIsUninstallModeLaunch{"isUninstallModeLaunch", kMethod, {}};
inline constexpr MethodSpec kConfirmMessageBox{
    "confirmMessageBox", kMethodOrGet, {VT_BSTR, VT_BSTR}, "EMConfirmMessageBox"};
inline constexpr MethodSpec kRemoveProgram{
    "removeProgram", kMethod, {VT_BSTR, VT_BOOL, VT_BSTR, VT_DISPATCH}};
inline constexpr MethodSpec kRepairProgram{
    "repairProgram", kMethod, {VT_BSTR, VT_BSTR, VT_DISPATCH}};
inline constexpr MethodSpec kVerifyFileInSpecialDirectory{
    "verifyFileInSpecialDirectory", kMethod, {VT_BSTR, VT_BSTR, VT_DISPATCH}};
inline constexpr MethodSpec kCancelVerifyThread{"cancelVerifyThread", kMethod, {}};
inline constexpr MethodSpec kIsInEmbargoedCountry{"isInEmbargoedCountry", kMethod, {}};
inline constexpr MethodSpec kIsInternetConnected{"isInternetConnected", kMethod, {}};
inline constexpr MethodSpec kGetEmbeddedDataFromCurrentExe{
    "getEmbeddedDataFromCurrentExe", kMethodOrGet, {VT_I4}};
inline constexpr MethodSpec kRenameFile{
    "renameFile", kMethodOrGet, {VT_BSTR, VT_BSTR}, "EMRenameFile"};

}  // namespace stubframework::methods

namespace stubframework {

// Registers every built-in method with its handler, in table order.
void RegisterBuiltInMethods(ExternalMethods& methods);

}  // namespace stubframework
