#include "downloader/DownloadDriver.h"

#include <chrono>
#include <thread>

#include "core/InstallerLog.h"
#include "downloader/DownloadLogger.h"
#include "downloader/DownloadSimpleTask.h"
#include "downloader/HttpToMemTask.h"
#include "downloader/MetaFile.h"
#include "downloader/MonikerDownload.h"
#include "platform/fs.h"
#include "platform/http.h"
#include "telemetry/WebServiceClient.h"

namespace stubframework {
namespace {

using downloader::Ptr;

constexpr int kAttempts = 10;
constexpr auto kPause = std::chrono::milliseconds(1000);
constexpr std::uint32_t kStopLookMs = 100;

constexpr HRESULT kDiskFull = static_cast<HRESULT>(0x80070070);
constexpr HRESULT kAbort = static_cast<HRESULT>(0x80004004);
constexpr HRESULT kDownloadFailure = static_cast<HRESULT>(0x800C0008);

ErrorHandle ResumeTransport(DownloadHost& host, const std::string& url, const std::string& metaUrl,
                            const std::string& path) {
    ErrorHandle result = ErrorHandle::UnknowError;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const auto logger =
            Ptr<downloader::ILogger>::Attach(debug::CreateDownloadLogger(host.Log()));
        const auto callback =
            Ptr<DownloadCallback>::Attach(downloader::details::Create<DownloadCallback>(host));
        downloader::ITask* const task = logger && callback
                                            ? downloader::CreateDownloadSimpleTask(
                                                  url, metaUrl, path, callback.Get(), logger.Get())
                                            : nullptr;
        if (task == nullptr) {
            // Logged as a memory failure, which maps to UnknowError.
            result = TransferDownloadError(host.Log(), downloader::kOutOfMemory);
        } else {
            const auto running = Ptr<downloader::ITask>::Attach(task);
            callback->SetTask(Ptr<downloader::ITask>::Share(task));
            task->Start();
            result = TransferDownloadError(host.Log(), callback->Wait());
        }
        if (!IsRetried(result)) {
            break;
        }
        std::this_thread::sleep_for(kPause);
    }
    return result;
}

ErrorHandle MonikerTransport(DownloadHost& host, const std::string& url, const std::string& path) {
    const std::string requestUrl = core::AppendTimestamp(url);
    ErrorHandle result = ErrorHandle::UnknowError;
    // Attempts that keep receiving data are retried without limit.
    for (int budget = kAttempts; budget > 0;) {
        core::DownloadCallback callback(host);
        result =
            TransferDownloadError(host.Log(), core::DownloadByMoniker(requestUrl, path, &callback));
        if (!IsRetried(result)) {
            break;
        }
        std::this_thread::sleep_for(kPause);
        budget = callback.DataSeen() ? kAttempts : budget - 1;
    }
    return result;
}

// Hands the fetched meta file to the waiting caller.
class HttpToMemCallback : public downloader::ITaskCallback<downloader::HttpToMemResult&&> {
public:
    void OnComplete(downloader::HttpToMemResult&& result) override {
        succeeded_ = result.hr >= 0;
        if (succeeded_) {
            bytes_.assign(result.buffer.Data(), result.buffer.Data() + result.buffer.Size());
        }
        done_.Set();
    }
    bool Wait() {
        done_.Wait();
        return succeeded_;
    }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

protected:
    ~HttpToMemCallback() = default;

private:
    platform::Event done_{true};
    bool succeeded_ = false;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace

ErrorHandle TransferDownloadError(debug::InstallerLog* log, HRESULT result) {
    debug::LogDebugMessage(log, "TransferDownloadError HRESULT: %x", static_cast<unsigned>(result));
    switch (static_cast<std::uint32_t>(result)) {
        case 0:
            return ErrorHandle::NoError;
        case 0x800C0006:
            return ErrorHandle::FileNotExist;
        case 0x80070070:
            return ErrorHandle::DiskFull;
        case 0x80004004:
            return ErrorHandle::Abort;
        case 0x800C0005:
        case 0x800C0008:
        case 0x800C000B:
        case 1:
            return ErrorHandle::Failure;
        default:
            return ErrorHandle::UnknowError;
    }
}

bool IsRetried(ErrorHandle result) {
    return result == ErrorHandle::Failure || result == ErrorHandle::UnknowError;
}

ErrorHandle DownloadWithRetry(DownloadHost& host, const std::string& url, const std::string& path,
                              bool secure, bool resume) {
    // Written through, a link would put the package wherever it points.
    if (platform::fs::IsLink(path)) {
        debug::LogErrorMessage(host.Log(), "Download target %s is a link: refused", path.c_str());
        return ErrorHandle::Failure;
    }
    std::string packageUrl = url;
    std::string metaUrl = url + ".meta";
    if (secure) {
        // A URL that cannot be tokenized is used as it is.
        core::RequestTokenizedUrl(packageUrl);
        core::RequestTokenizedUrl(metaUrl);
    }
    ErrorHandle result = resume ? ResumeTransport(host, packageUrl, metaUrl, path)
                                : MonikerTransport(host, packageUrl, path);
    if ((result == ErrorHandle::Failure || result == ErrorHandle::FileNotExist) &&
        !platform::http::CheckConnection(url)) {
        result = ErrorHandle::NoNetwork;
    }
    return result;
}

void DownloadCallback::OnProgress(std::int64_t current, std::int64_t total) {
    host_.DownloadBar().SetTotal(static_cast<std::uint32_t>(total));
    host_.DownloadBar().SetCurrent(static_cast<std::uint32_t>(current));
    if (host_.StopDownload() && task_) {
        task_->Cancel();
    }
}

void DownloadCallback::OnComplete(downloader::Result result) {
    result_ = result == 0 || result == kAbort || result == kDiskFull ? result : kDownloadFailure;
    done_.Set();
}

HRESULT DownloadCallback::Wait() {
    // A stalled transfer reports no progress for as long as it stalls: a
    // stop request is looked at while waiting too.
    bool cancelled = false;
    while (!done_.Wait(kStopLookMs)) {
        if (!cancelled && host_.StopDownload() && task_) {
            cancelled = true;
            task_->Cancel();
        }
    }
    return result_;
}

bool IsFileSameAsRemote(const std::string& path, const std::string& metaUrl) {
    platform::http::SyncRequest probe;
    probe.url = metaUrl;
    probe.userAgent = "ValidURL";
    probe.followRedirects = false;
    probe.read = platform::http::SyncRequest::Read::kStatus;
    if (platform::http::Perform(probe).status != 200) {
        return true;  // nothing to compare with
    }
    const auto logger = Ptr<downloader::ILogger>::Attach(debug::CreateDownloadLogger(nullptr));
    const auto callback =
        Ptr<HttpToMemCallback>::Attach(downloader::details::Create<HttpToMemCallback>());
    if (!logger || !callback) {
        return false;
    }
    const auto task = Ptr<downloader::ITask>::Attach(
        downloader::CreateHttpToMemTask(metaUrl, callback.Get(), logger.Get()));
    if (!task) {
        return false;
    }
    task->Start();
    if (!callback->Wait()) {
        return false;
    }
    return downloader::VerifyFileWithMeta(path, callback->Bytes().data(), callback->Bytes().size());
}

}  // namespace stubframework
