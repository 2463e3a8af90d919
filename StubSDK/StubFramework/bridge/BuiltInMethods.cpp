#include "bridge/BuiltInMethods.h"

#include "bridge/ExternalMethods.h"
#include "bridge/PropertyMethods.h"
#include "bridge/WindowMethods.h"

namespace stubframework {
namespace {

struct Registration {
    const MethodSignature& signature;
    MethodHandler handler;
};

}  // namespace

void RegisterBuiltInMethods(ExternalMethods& methods) {
    // Families not built yet answer E_NOTIMPL after their checks, so the
    // names, flags and argument types the pages see are final already.
    const Registration registrations[] = {
        {methods::kDownload, NotBuiltYet<methods::kDownload>},
        {methods::kStopDownload, NotBuiltYet<methods::kStopDownload>},
        {methods::kInstall, NotBuiltYet<methods::kInstall>},
        {methods::kCloseWindow, ZSClose},
        {methods::kDragWindow, ZSDragWindow},
        {methods::kHideWindow, EMHideWindow},
        {methods::kShowWindow, EMShowWindow},
        {methods::kTerminateWindow, EMTerminateWindow},
        {methods::kSelectFolder, EMSelectFolder},
        {methods::kStartProgram, EMStartProgram},
        {methods::kMessageBox, ZSMessageBox},
        {methods::kRestartSystem, NotBuiltYet<methods::kRestartSystem>},
        {methods::kDeleteRegKey, NotBuiltYet<methods::kDeleteRegKey>},
        {methods::kRunAfterReboot, NotBuiltYet<methods::kRunAfterReboot>},
        {methods::kUndoRunAfterReboot, NotBuiltYet<methods::kUndoRunAfterReboot>},
        {methods::kSetWindowSize, ZSWindowSize},
        {methods::kSetProperty, EMSetProperty},
        {methods::kSetLang, NotBuiltYet<methods::kSetLang>},
        {methods::kSetInstallStatus, NotBuiltYet<methods::kSetInstallStatus>},
        {methods::kSetChannel, NotBuiltYet<methods::kSetChannel>},
        {methods::kSetDataToReg, NotBuiltYet<methods::kSetDataToReg>},
        {methods::kIsFileExists, NotBuiltYet<methods::kIsFileExists>},
        {methods::kIsSkipSelfUpdate, NotBuiltYet<methods::kIsSkipSelfUpdate>},
        {methods::kIsNeedSelfUpdate, NotBuiltYet<methods::kIsNeedSelfUpdate>},
        {methods::kIsSilentLaunchStub, NotBuiltYet<methods::kIsSilentLaunchStub>},
        {methods::kSelfUpdate, NotBuiltYet<methods::kSelfUpdate>},
        {methods::kCreateDirectory, NotBuiltYet<methods::kCreateDirectory>},
        {methods::kInitDownloadSize, NotBuiltYet<methods::kInitDownloadSize>},
        {methods::kTrackUserActivity, NotBuiltYet<methods::kTrackUserActivity>},
        {methods::kOpenPage, EMOpenPage},
        {methods::kRunApplication, EMRunApplication},
        {methods::kExecuteCommand, EMExecuteCommand},
        {methods::kUpdateInstallerList, NotBuiltYet<methods::kUpdateInstallerList>},
        {methods::kStartRegApps, EMStartRegApps},
        {methods::kSearchRegKey, NotBuiltYet<methods::kSearchRegKey>},
        {methods::kGetProperty, EMGetProperty},
        {methods::kGetDiskAvailableSpace, NotBuiltYet<methods::kGetDiskAvailableSpace>},
        {methods::kGetOSLang, NotBuiltYet<methods::kGetOSLang>},
        {methods::kGetLanguageByID, NotBuiltYet<methods::kGetLanguageByID>},
        {methods::kGetParsedInstallLanguage, NotBuiltYet<methods::kGetParsedInstallLanguage>},
        {methods::kGetFileVersion, NotBuiltYet<methods::kGetFileVersion>},
        {methods::kGetDataFromReg, NotBuiltYet<methods::kGetDataFromReg>},
        {methods::kGetCrc, NotBuiltYet<methods::kGetCrc>},
        {methods::kGetOSVersion, NotBuiltYet<methods::kGetOSVersion>},
        {methods::kGetResumeMode, NotBuiltYet<methods::kGetResumeMode>},
        {methods::kGetResourceLocation, NotBuiltYet<methods::kGetResourceLocation>},
        {methods::kGetCurrentPath, NotBuiltYet<methods::kGetCurrentPath>},
        {methods::kGetDesktopPath, NotBuiltYet<methods::kGetDesktopPath>},
        {methods::kGetTempPath, NotBuiltYet<methods::kGetTempPath>},
        {methods::kGetBaseRegKey, NotBuiltYet<methods::kGetBaseRegKey>},
        {methods::kGetFileSize, NotBuiltYet<methods::kGetFileSize>},
        {methods::kGetLastInstallError, NotBuiltYet<methods::kGetLastInstallError>},
        {methods::kCheckOS, NotBuiltYet<methods::kCheckOS>},
        {methods::kGetMachineId, NotBuiltYet<methods::kGetMachineId>},
        {methods::kSetUninstallRegistryFromStub,
         NotBuiltYet<methods::kSetUninstallRegistryFromStub>},
        {methods::kIsUninstallModeLaunch, NotBuiltYet<methods::kIsUninstallModeLaunch>},
        {methods::kConfirmMessageBox, EMConfirmMessageBox},
        {methods::kRemoveProgram, NotBuiltYet<methods::kRemoveProgram>},
        {methods::kRepairProgram, NotBuiltYet<methods::kRepairProgram>},
        {methods::kVerifyFileInSpecialDirectory,
         NotBuiltYet<methods::kVerifyFileInSpecialDirectory>},
        {methods::kCancelVerifyThread, NotBuiltYet<methods::kCancelVerifyThread>},
        {methods::kIsInEmbargoedCountry, NotBuiltYet<methods::kIsInEmbargoedCountry>},
        {methods::kIsInternetConnected, NotBuiltYet<methods::kIsInternetConnected>},
        {methods::kGetEmbeddedDataFromCurrentExe,
         NotBuiltYet<methods::kGetEmbeddedDataFromCurrentExe>},
        {methods::kRenameFile, NotBuiltYet<methods::kRenameFile>},
    };
    for (const Registration& registration : registrations) {
        methods.RegisterMethod(std::string(registration.signature.name), registration.handler,
                               ScriptFlags(registration.signature));
    }
}

}  // namespace stubframework
