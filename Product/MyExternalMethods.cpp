#include "MyExternalMethods.h"

#include "ProductMethods.h"
#include "StubFramework.h"
#include "app/Framework.h"
#include "core/LanguageTable.h"
#include "core/MachineIdentity.h"
#include "platform/system.h"

namespace myexternalmethods {
namespace {

namespace debug = stubframework::debug;

constexpr const char* kCompletedEvent = "install.completed";
constexpr std::uint32_t kFinalEventWaitMs = 500;

TrackingProperties StartValues(stubframework::core::FrameworkCore& core) {
    TrackingProperties values;
    values.application = "Brindlemark";
    values.buildNumber = "24.0.0.1";
    values.deviceOsVersion = stubframework::platform::system::FullVersionText();
    values.deviceLang =
        std::string(stubframework::core::LanguageTable()[core.UiLanguageIndex()].code);
    return values;
}

}  // namespace

MyExternalMethods::MyExternalMethods(stubframework::StubFramework& framework)
    : ExternalMethods(framework), tracking_(StartValues(framework.Core())) {
    TrackerCoreData data;
    data.productName = "Brindlemark";
    data.appName = "Brindlemark Windows";
    if (tracking_.buildNumber.size() < 128) {
        data.buildNumber = tracking_.buildNumber;
    }
    data.hwid = stubframework::core::ComputeHardwareFingerprint();
    tracker_.Initialize(data, ReadTrackerConfig(TrackerConfigPath()));
    RegisterMethods(ProductMethods());
}

MyExternalMethods::~MyExternalMethods() {
    tracker_.Release();
}

void MyExternalMethods::SendEvent(const std::string& event, const std::string& properties) {
    debug::FrameworkDebugMessage(
        &Framework(), "TrackingByAnalyticsSDKThreadFunc: event=\"%s\", properties=\"%s\"",
        event.c_str(), properties.c_str());
    // Recorded here, on the window thread, before the page can close the
    // window: an event the tracker refuses does not count.
    if (event == kCompletedEvent && PropertiesPatternOk(properties)) {
        completionSent_ = true;
    }
    if (Sender().Send(event, properties) != Tracker::kDone) {
        debug::FrameworkErrorMessage(&Framework(),
                                     "TrackingByAnalyticsSDKThreadFunc: tracking failed!");
    }
}

void MyExternalMethods::SendFinalEvent(bool endedByException) {
    if (completionSent_) {
        return;
    }
    const std::string outcome = endedByException
                                    ? "install.completed=NOK|install.fail-reason=UnknowError"
                                    : "install.completed=CNX|install.fail-reason=UserCanceled";
    SendEvent(kCompletedEvent, outcome + DefaultPropertyList(tracking_));
    tracker_.Linger(kFinalEventWaitMs);
}

}  // namespace myexternalmethods
