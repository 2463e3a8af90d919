#include "bridge/Workers.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "bridge/ExternalMethods.h"

namespace stubframework {
namespace {

constexpr auto kProgressTurn = std::chrono::milliseconds(2);
constexpr auto kReportPoll = std::chrono::milliseconds(1);
constexpr const char* kExtractInProgress = "__Extract_ZIP_In_Download_Progress__";

void InvokeValue(IDispatch* callback, DISPPARAMS& params) {
    if (callback != nullptr) {
        callback->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr,
                         nullptr);
    }
}

VARIANT IntVariant(std::int32_t value) {
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_I4;
    variant.lVal = value;
    return variant;
}

bool ExtractMode(core::HtmlExternal& host) {
    return host.Properties().Get(kExtractInProgress) == "true";
}

// The low 32 bits, as the page receives numbers.
std::int32_t Low32(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// The download bar position while a ZIP is extracted: the download filled
// 95 %, the extraction fills the rest. A total of zero (an empty archive)
// counts as no progress instead of a division by zero.
std::uint32_t ExtractPosition(std::int64_t downloadTotal, std::int64_t current,
                              std::int64_t total) {
    // Extraction is the first tenth of the install bar; beyond it the bar
    // stays at the end rather than past it.
    const double fraction =
        total > 0 ? std::min(1.0, 10.0 * static_cast<double>(current) / static_cast<double>(total))
                  : 0.0;
    const double position = 0.95 * static_cast<double>(downloadTotal) +
                            0.05 * static_cast<double>(downloadTotal) * fraction + 0.5;
    if (!std::isfinite(position) || position <= 0) {
        return 0;
    }
    constexpr double kMax = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(std::min(position, kMax));
}

}  // namespace

void CallPage(IDispatch* callback, ErrorHandle result, std::int32_t total, std::int32_t current) {
    // DISPPARAMS hold the arguments last first: the script sees (result, total, current).
    VARIANT arguments[3] = {IntVariant(current), IntVariant(total), IntVariant(AsNumber(result))};
    DISPPARAMS params{arguments, nullptr, 3, 0};
    InvokeValue(callback, params);
}

void CallPage(IDispatch* callback, ErrorHandle result) {
    VARIANT arguments[1] = {IntVariant(AsNumber(result))};
    DISPPARAMS params{arguments, nullptr, 1, 0};
    InvokeValue(callback, params);
}

namespace detail {

void LogMarshalFailure(ExternalMethods& owner, const char* failureLog, HRESULT hr) {
    if (failureLog != nullptr) {
        debug::FrameworkDebugMessage(&owner.Framework(), "%s%x", failureLog,
                                     static_cast<unsigned>(hr));
    }
}

}  // namespace detail

platform::com::Ptr<IDispatch> WorkerPrologue(ExternalMethods& owner,
                                             platform::com::Ptr<IStream>& stream,
                                             const char* failureLog) {
    IDispatch* callback = nullptr;
    const HRESULT hr = CoGetInterfaceAndReleaseStream(stream.Detach(), IID_IDispatch,
                                                      reinterpret_cast<void**>(&callback));
    if (FAILED(hr)) {
        if (failureLog != nullptr) {
            debug::FrameworkErrorMessage(&owner.Framework(), "%s%x", failureLog,
                                         static_cast<unsigned>(hr));
        }
        return {};
    }
    return platform::com::Ptr<IDispatch>::Attach(callback);
}

void DownloadProgressThreadFunc(ProgressWatcher* watcher) {
    if (watcher->callback == nullptr) {
        return;
    }
    core::HtmlExternal& host = *watcher->host;
    const bool extract = ExtractMode(host);
    std::unique_lock<std::mutex> lock(*watcher->lock);
    while (watcher->record->state == ErrorHandle::Running) {
        const std::int64_t current = host.GetProgress(core::kDownloadCurrent);
        const std::int64_t total = host.GetProgress(core::kDownloadTotal);
        // While a ZIP waits to be extracted the download fills 95 % of the bar.
        const std::int64_t shown =
            extract ? static_cast<std::int64_t>(static_cast<double>(current) * 0.95) : current;
        CallPage(watcher->callback, ErrorHandle::Running, Low32(total), Low32(shown));
        // The transfer decides the end, not the scaled position: scaled, it
        // would never reach the total and the worker would wait forever.
        if (current >= total) {
            host.SetProgress(core::kDownloadCurrent, static_cast<std::uint32_t>(total));
            watcher->record->state = ErrorHandle::NoError;
        }
        lock.unlock();
        std::this_thread::sleep_for(kProgressTurn);
        lock.lock();
    }
}

void InstallProgressThreadFunc(ProgressWatcher* watcher) {
    if (watcher->callback == nullptr) {
        return;
    }
    core::HtmlExternal& host = *watcher->host;
    const bool extract = ExtractMode(host);
    const std::int64_t downloadTotal = host.GetProgress(core::kDownloadTotal);
    std::unique_lock<std::mutex> lock(*watcher->lock);
    while (watcher->record->state == ErrorHandle::Running) {
        std::int64_t current = host.GetProgress(core::kInstallCurrent);
        std::int64_t total = host.GetProgress(core::kInstallTotal);
        if (extract) {
            host.SetProgress(core::kDownloadCurrent,
                             ExtractPosition(downloadTotal, current, total));
            current = host.GetProgress(core::kDownloadCurrent);
            total = downloadTotal;
        }
        CallPage(watcher->callback, ErrorHandle::Running, Low32(total), Low32(current));
        if (current >= total) {
            host.SetProgress(core::kInstallCurrent, static_cast<std::uint32_t>(total));
            watcher->record->state = ErrorHandle::NoError;
        }
        lock.unlock();
        std::this_thread::sleep_for(kProgressTurn);
        lock.lock();
    }
}

ProgressJob::ProgressJob(core::HtmlExternal& host, IDispatch* callback, std::string item)
    : watcher_{&host, callback, &record_, std::move(item), &lock_} {}

ProgressJob::~ProgressJob() {
    JoinProgress();
}

void ProgressJob::StartProgress(void (*progressThreadFunc)(ProgressWatcher*)) {
    JoinProgress();
    progressRunning_ = true;
    progress_ = std::thread([this, progressThreadFunc] {
        try {
            progressThreadFunc(&watcher_);
        } catch (...) {
        }
        progressRunning_ = false;
    });
}

void ProgressJob::JoinProgress() {
    if (progress_.joinable()) {
        progress_.join();
    }
}

void ProgressJob::WaitUntilReported() {
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(lock_);
            if (record_.state != ErrorHandle::Running || !progressRunning_) {
                return;
            }
        }
        std::this_thread::sleep_for(kReportPoll);
    }
}

void ProgressJob::SetState(ErrorHandle state) {
    const std::lock_guard<std::mutex> lock(lock_);
    record_.state = state;
}

void ProgressJob::Complete(ErrorHandle result, ProgressPair pair) {
    {
        const std::lock_guard<std::mutex> lock(lock_);
        record_.state = result;
        core::HtmlExternal& host = *watcher_.host;
        if (pair == ProgressPair::Download) {
            host.SetProgress(core::kDownloadCurrent, 0);
            host.SetProgress(core::kDownloadTotal, 1);
        } else {
            host.SetProgress(core::kInstallCurrent, 0);
            host.SetProgress(core::kInstallTotal, 1);
        }
        CallPage(watcher_.callback, result, Low32(record_.total), Low32(record_.current));
    }
    JoinProgress();
}

void StartCountedThread(ExternalMethods& owner, std::function<void()> work) {
    core::HtmlExternal& host = owner.Dispatch();
    host.WorkerStarted();
    std::thread([&host, work = std::move(work)] {
        // A thread entry point: nothing may escape it.
        try {
            work();
        } catch (...) {
        }
        host.WorkerEnded();
    }).detach();
}

}  // namespace stubframework
