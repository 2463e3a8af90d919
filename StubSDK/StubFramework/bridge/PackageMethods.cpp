#include "bridge/PackageMethods.h"

#include <cstdint>
#include <string>

#include "bridge/ExternalMethods.h"
#include "bridge/HtmlExternal.h"
#include "bridge/MethodSignature.h"
#include "core/CommandLine.h"
#include "core/FileChecksum.h"
#include "core/FrameworkCore.h"
#include "platform/fs.h"

namespace stubframework::methods {
namespace {

// The highest status a page may record.
constexpr std::uint32_t kMaxInstallStatus = 70;

}  // namespace

HRESULT getCrc(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    const std::string path = platform::fs::FromPagePath(StringArgument(params, 0));
    std::uint32_t crc = 0;
    const std::string text = core::FileCrc32(path, crc) ? std::to_string(crc) : "0";
    debug::FrameworkDebugMessage(Log(owner), "EMGetCRC args %s, Result %s", path.c_str(),
                                 text.c_str());
    ReturnString(result, text);
    return S_OK;
}

HRESULT isSkipSelfUpdate(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                         VARIANT* result) {
    const bool skip = core::IsSkipSelfUpdate(core::CommandLineArguments());
    debug::FrameworkDebugMessage(Log(owner), "EMIsSkipUpdate Result: %s",
                                 skip ? "skipUpdate" : "update");
    ReturnBool(result, skip);
    return S_OK;
}

HRESULT isSilentLaunchStub(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                           VARIANT* result) {
    const bool silent = core::IsSilentLaunch(core::CommandLineArguments());
    debug::FrameworkDebugMessage(Log(owner), "EMIsSilentLaunchStub Result: %s",
                                 silent ? "launch silently" : "launch normal");
    ReturnBool(result, silent);
    return S_OK;
}

HRESULT getResumeMode(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* /*params*/,
                      VARIANT* result) {
    ReturnInt(result, AsNumber(core::ResumeModeFromArguments(core::CommandLineArguments())));
    return S_OK;
}

HRESULT isUninstallModeLaunch(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                              VARIANT* result) {
    const std::string mode = core::UninstallModeFromArguments(core::CommandLineArguments());
    const bool launched = !mode.empty();
    if (launched) {
        owner.Core().Properties().Set("uninstallMode", mode);
        owner.Core().Properties().Set("defaultOption", mode);
    }
    debug::FrameworkDebugMessage(Log(owner), "EMIsUninstallModeLaunch result: %s",
                                 launched ? "true" : "false");
    ReturnBool(result, launched);
    return S_OK;
}

HRESULT setInstallStatus(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                         VARIANT* /*result*/) {
    const LONG status = IntArgument(params, 0);
    // Taken as unsigned, so a negative status is out of range as well.
    if (static_cast<std::uint32_t>(status) > kMaxInstallStatus) {
        return STG_E_INVALIDPARAMETER;
    }
    debug::FrameworkDebugMessage(Log(owner), "EMSetInstallStatus: %d", static_cast<int>(status));
    owner.Core().SetStatus(status);
    return S_OK;
}

HRESULT getLastInstallError(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                            VARIANT* result) {
    const std::uint32_t error = owner.Dispatch().LastInstallError();
    // Signed 32-bit, as the Windows build's log shows it (long is 64 bits here).
    debug::FrameworkDebugMessage(Log(owner), "EMGetLastInstallError ErrorCode: %ld",
                                 static_cast<long>(static_cast<std::int32_t>(error)));
    ReturnUInt(result, error);
    return S_OK;
}

}  // namespace stubframework::methods
