#include "Tracker.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "TrackerLog.h"
#include "platform/system.h"
#include "platform/trackerview.h"

namespace myexternalmethods {

namespace view = stubframework::platform::trackerview;
using Clock = std::chrono::steady_clock;

// Everything the track thread touches: it holds its own reference, so none
// of it goes while the thread may still run.
struct Tracker::Shared {
    mutable std::mutex lock;
    std::condition_variable wake;
    TrackerSettings settings;
    TrackerCoreData core;
    std::deque<std::string> queue;
    int pending = 0;  // handed to the page, not yet answered
    bool threadStarted = false;
    bool noPage = false;  // the thread found nothing to deliver to
    bool exitRequested = false;
    bool exited = false;

    void Log(TrackerLevel level, const std::string& text) const {
        if (settings.loggingEnabled) {
            WriteTrackerLog(level, text);
        }
    }
    void Trace(const std::string& text) const { Log(TrackerLevel::Trace, text); }
    void Error(const std::string& text) const { Log(TrackerLevel::Error, text); }
};

namespace {

constexpr std::uint32_t kExitGraceMs = 5000;
constexpr auto kIdleWait = std::chrono::milliseconds(100);

// Calls the page's trackEvent with the log lines of the call.
view::CallResult CallTrackEvent(Tracker::Shared& shared, view::View& page,
                                const std::string& text) {
    const std::string name = "trackEvent";
    shared.Trace("calling JS '" + name + "' begins");
    view::CallResult call = page.CallTrackEvent(text);
    switch (call.outcome) {
        case view::CallResult::Outcome::NoDocument:
            shared.Error("calling JS '" + name + "' failed, m_spHtmlDoc is NULL, errorCode: " +
                         std::to_string(call.error) + ".");
            break;
        case view::CallResult::Outcome::Failed:
            shared.Error("calling JS '" + name +
                         "' failed, errorCode: " + std::to_string(call.error) + ".");
            break;
        case view::CallResult::Outcome::Success:
            shared.Trace("calling JS '" + name + "' success");
            break;
    }
    shared.Trace("calling JS '" + name + "' ends");
    if (call.outcome == view::CallResult::Outcome::Success && !call.text.empty()) {
        shared.Trace("vaArgsRet:\n" + call.text);
    }
    return call;
}

// True once the thread should stop: 5 s after the first sight of the exit
// signal, or at once when it has nothing left to wait for.
bool TimeToStop(Tracker::Shared& shared, std::optional<Clock::time_point>& exitSeen,
                bool deliveredAll) {
    if (!shared.exitRequested) {
        return false;
    }
    if (!exitSeen) {
        exitSeen = Clock::now();
    }
    return Clock::now() - *exitSeen > std::chrono::milliseconds(kExitGraceMs) || deliveredAll;
}

void Deliver(const std::shared_ptr<Tracker::Shared>& shared, view::View& page) {
    std::optional<Clock::time_point> exitSeen;
    std::unique_lock<std::mutex> lock(shared->lock);
    // Nothing goes to the page before it has loaded; the exit is watched
    // here too, so a page that never loads cannot hold the thread.
    while (!page.Loaded()) {
        if (TimeToStop(*shared, exitSeen, false)) {
            return;
        }
        shared->wake.wait_for(lock, kIdleWait);
    }
    shared->Trace("OnDocumentComplete");
    for (;;) {
        if (TimeToStop(*shared, exitSeen, shared->queue.empty() && shared->pending == 0)) {
            return;
        }
        if (!shared->queue.empty()) {
            const std::string text = std::move(shared->queue.front());
            shared->queue.pop_front();
            // Counted before the call: the page may answer while it runs.
            ++shared->pending;
            lock.unlock();
            shared->Trace("Before Calling trackEvent");
            shared->Trace("vaArgs:\n" + text);
            const view::CallResult call = CallTrackEvent(*shared, page, text);
            lock.lock();
            if (call.outcome != view::CallResult::Outcome::Success) {
                shared->pending = shared->pending > 0 ? shared->pending - 1 : 0;
                shared->Error("CallJScriptFunct failed, errorCode: " + std::to_string(call.error) +
                              ".");
            }
            shared->Trace("After Calling trackEvent");
            continue;
        }
        shared->wake.wait_for(lock, kIdleWait);
    }
}

void LaunchTrackTask(const std::shared_ptr<Tracker::Shared>& shared) {
    std::string url;
    bool alerting = false;
    {
        const std::lock_guard<std::mutex> lock(shared->lock);
        shared->Trace("Call LaunchTrackTask");
        url = shared->settings.containerUrl;
        alerting = shared->settings.alertingEnabled;
        shared->pending = 0;
    }
    const std::weak_ptr<Tracker::Shared> answers = shared;
    std::unique_ptr<view::View> page =
        view::Open(url, alerting, [answers](const std::string& text) {
            if (const auto target = answers.lock()) {
                Tracker::Shared& state = *target;
                if (text == "eventTracked") {
                    const std::lock_guard<std::mutex> lock(state.lock);
                    state.pending = state.pending > 0 ? state.pending - 1 : 0;  // never below zero
                    state.wake.notify_all();
                } else if (text.rfind("JS DEBUG: ", 0) == 0) {
                    state.Trace(text);
                }
            }
        });
    if (!page) {
        shared->Error("New TrackerHTMLDialog failed, errorCode: 8.");
        return;
    }
    Deliver(shared, *page);
    page.reset();
    shared->Trace("LaunchTrackTask end");
}

}  // namespace

Tracker::Tracker() : shared_(std::make_shared<Shared>()) {}

Tracker::~Tracker() {
    Release();
}

int Tracker::Initialize(const TrackerCoreData& data, std::string_view configText) {
    const std::lock_guard<std::mutex> lock(shared_->lock);
    if (!shared_->settings.productId.empty()) {
        return kAlreadyInitialised;
    }
    shared_->settings = TrackerSettings{};
    shared_->settings.productId = "Brindlemark";
    shared_->core = data;
    FillMachineFields(shared_->core);
    ApplyTrackerConfig(configText, shared_->settings);
    shared_->Trace("Call initialize");
    return kDone;
}

int Tracker::TrackEvent(const std::string& event, const std::string& properties) {
    std::unique_lock<std::mutex> lock(shared_->lock);
    if (shared_->settings.productId.empty()) {
        return kNotInitialised;
    }
    if (event.empty()) {
        return kRefused;
    }
    if (!PropertiesPatternOk(properties)) {
        shared_->Error("Invalid eventData pattern: " + properties);
        return kRefused;
    }
    std::string text = TrackDataText(shared_->settings, shared_->core, event, properties);
    shared_->Trace("Call trackEventData");
    shared_->queue.push_back(std::move(text));
    shared_->wake.notify_all();
    int result = kDone;
    if (!shared_->threadStarted) {
        try {
            std::thread([shared = shared_] {
                try {
                    LaunchTrackTask(shared);
                } catch (...) {
                    shared->Error("LaunchTrackTask exception, errorCode: 0.");
                }
                const std::lock_guard<std::mutex> done(shared->lock);
                shared->exited = true;
                shared->wake.notify_all();
            }).detach();
            shared_->threadStarted = true;
        } catch (const std::system_error& error) {
            shared_->Error("Create track thread failed, errorCode:" +
                           std::to_string(error.code().value()) + ".");
            result = kNoThread;
        }
    }
    if (shared_->settings.loggingEnabled) {
        shared_->Trace("trackData:\n " + event + ":" +
                       CoreDataLogText(shared_->settings, shared_->core) +
                       (properties.empty() ? "" : "|" + properties));
    }
    return result;
}

void Tracker::Linger(std::uint32_t ms) {
    view::WaitWhileServing(
        [this] {
            const std::lock_guard<std::mutex> lock(shared_->lock);
            return shared_->exited || (shared_->queue.empty() && shared_->pending == 0);
        },
        ms);
}

void Tracker::Release() {
    {
        const std::lock_guard<std::mutex> lock(shared_->lock);
        if (shared_->settings.productId.empty()) {
            return;
        }
        shared_->Trace("release start");
        shared_->Trace("Call releaseTrackEvent");
        // From here on events are refused (200), whoever still sends them.
        shared_->settings.productId.clear();
        shared_->exitRequested = true;
        shared_->wake.notify_all();
        if (!shared_->threadStarted) {
            shared_->exited = true;
        }
    }
    const auto exited = [this] {
        const std::lock_guard<std::mutex> lock(shared_->lock);
        return shared_->exited;
    };
    // The thread stops 5 s after it sees the signal at the latest; a call
    // to the page that was under way may take a moment more.
    const auto log = [this](const char* text) {
        const std::lock_guard<std::mutex> lock(shared_->lock);
        shared_->Error(text);
    };
    if (!view::WaitWhileServing(exited, kExitGraceMs)) {
        log("Wait TrackThreadExited failed, errorCode:258.");
        if (!view::WaitWhileServing(exited, kExitGraceMs)) {
            log("Wait hTrackThread failed, errorCode:258.");
        }
    }
    const std::lock_guard<std::mutex> lock(shared_->lock);
    shared_->Trace("releaseTrackEvent end");
    shared_->Trace("release end");
}

TrackerSettings Tracker::Settings() const {
    const std::lock_guard<std::mutex> lock(shared_->lock);
    return shared_->settings;
}

void FillMachineFields(TrackerCoreData& data) {
    namespace system = stubframework::platform::system;
    const system::MachineFacts facts = system::ReadMachineFacts();
    data.operatingSystem = facts.operatingSystem;
    data.bitness = facts.is64Bit ? "64" : "32";
    data.osVersion = facts.osVersion;
    switch (system::NativeProcessorArchitecture()) {
        case system::kProcessorArchitectureIntel:
            data.architecture = "x86";
            break;
        case system::kProcessorArchitectureArm:
            data.architecture = "ARM";
            break;
        case system::kProcessorArchitectureAmd64:
            data.architecture = "x64";
            break;
        case system::kProcessorArchitectureArm64:
            data.architecture = "ARM64";
            break;
        default:
            data.architecture = "Unknown";
    }
    data.coreNumber = std::to_string(facts.processorCount);
    data.maxClockSpeed = facts.maxClockMhz != 0 ? std::to_string(facts.maxClockMhz) + "MHz" : "";
    data.manufacturerName = facts.processorVendor;
    constexpr double kGiB = 1024.0 * 1024.0 * 1024.0;
    data.memorySize =
        std::to_string(std::llround(static_cast<double>(facts.memoryBytes) / kGiB)) + "GB";
}

}  // namespace myexternalmethods
