#include "bridge/SystemMethods.h"

#include "bridge/ExternalMethods.h"
#include "bridge/MethodSignature.h"
#include "bridge/Workers.h"
#include "core/FrameworkCore.h"
#include "core/LanguageTable.h"
#include "core/MinimumOs.h"
#include "platform/system.h"
#include "platform/unicode.h"
#include "telemetry/RegionCheck.h"
#include "telemetry/ReportDocuments.h"
#include "telemetry/WebServiceClient.h"

namespace stubframework::methods {
namespace {

namespace system = platform::system;

}  // namespace

HRESULT getOSVersion(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* /*params*/,
                     VARIANT* result) {
    const std::optional<system::WindowsVersion> windows = system::OsVersion();
    ReturnString(result, windows
                             ? std::to_string(windows->major) + "." + std::to_string(windows->minor)
                             : system::VersionText());
    return S_OK;
}

HRESULT checkOS(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* result) {
    const std::string minimum = StringArgument(params, 0);
    const std::string bitness = StringArgument(params, 1);
    if (platform::FoldCase(bitness) == platform::FoldCase("x64") &&
        owner.Core().Architecture() == "x86") {
        owner.Core().Properties().Set("OSBitNotSupport", "true");
        ReturnBool(result, false);
        return S_OK;
    }
    // Only Windows has versions to compare; elsewhere any version will do.
    const std::optional<system::WindowsVersion> windows = system::OsVersion();
    const bool valid = !windows || core::MeetsMinimumOs(windows->major, windows->minor, minimum);
    debug::FrameworkDebugMessage(Log(owner), "EMCheckOS Result : %s",
                                 valid ? "OS valid" : "OS invalid");
    ReturnBool(result, valid);
    return S_OK;
}

HRESULT isInternetConnected(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                            VARIANT* result) {
    const bool connected = system::HasNetworkConnection();
    debug::FrameworkDebugMessage(Log(owner), "EMIsInternetConnected: %s",
                                 connected ? "connected" : "disconnected");
    ReturnBool(result, connected);
    return S_OK;
}

HRESULT isInEmbargoedCountry(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                             VARIANT* result) {
    const core::RegionAnswer answer = core::CheckRegion(owner.Core());
    owner.Core().Properties().Set("Country", answer.country);
    debug::FrameworkDebugMessage(Log(owner), "EMIsInEmbargoedCountry:Result: %s Country: %s",
                                 answer.embargo.c_str(), answer.country.c_str());
    ReturnBool(result, answer.Embargoed());
    return S_OK;
}

// Reported from a thread of its own, so a slow service never holds the page;
// the thread takes copies of what it sends.
HRESULT trackUserActivity(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                          VARIANT* /*result*/) {
    core::ActivityReport report = core::MakeActivityReport(owner.Core(), StringArgument(params, 0));
    StartCountedThread(owner, [&owner, report = std::move(report)] {
        const ComApartment apartment;
        const std::string document = core::UserActivityDocument(report);
        if (!core::SendToWebService(reinterpret_cast<const std::uint8_t*>(document.data()),
                                    document.size(), "/v1/logUserActivity", "POST")) {
            debug::FrameworkDebugMessage(Log(owner),
                                         "TrackUserActivityTreadFunc track activity:%s failed!",
                                         report.activity.c_str());
        }
    });
    return S_OK;
}

HRESULT getMachineId(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* /*params*/,
                     VARIANT* result) {
    const std::string digest = core::MachineIdDigest(owner.Core().MachineIdentifier());
    debug::FrameworkDebugMessage(Log(owner), "EMGetMachineId Result : %s", digest.c_str());
    ReturnString(result, digest);
    return S_OK;
}

HRESULT getOSLang(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* /*params*/,
                  VARIANT* result) {
    ReturnInt(result, core::LanguageNumberFromId(system::UserDefaultUILanguage()));
    return S_OK;
}

HRESULT getLanguageByID(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* params,
                        VARIANT* result) {
    // A language id is 16 bits; the script's number carries it in the low ones.
    const auto id = static_cast<std::uint16_t>(IntArgument(params, 0) & 0xFFFF);
    ReturnInt(result, core::LanguageNumberFromId(id));
    return S_OK;
}

HRESULT getParsedInstallLanguage(ExternalMethods& /*owner*/, WORD /*flags*/, DISPPARAMS* params,
                                 VARIANT* result) {
    ReturnInt(result, core::LanguageNumberFromCode(StringArgument(params, 0)));
    return S_OK;
}

HRESULT setLang(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params, VARIANT* /*result*/) {
    // A number outside the table changes nothing.
    owner.Core().SetLanguage(static_cast<int>(IntArgument(params, 0)));
    return S_OK;
}

HRESULT setChannel(ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                   VARIANT* /*result*/) {
    const std::string channel = StringArgument(params, 0);
    debug::FrameworkDebugMessage(Log(owner), "EMSetChannel: %s", channel.c_str());
    owner.Core().SetChannel(channel);
    return S_OK;
}

}  // namespace stubframework::methods
