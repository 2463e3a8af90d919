#include "downloader/MonikerDownload.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/error.h"

namespace stubframework::core {
namespace {

namespace http = platform::http;

constexpr HRESULT kAbort = static_cast<HRESULT>(0x80004004);

}  // namespace

HRESULT DownloadCallback::OnProgress(std::uint64_t progress, std::uint64_t max,
                                     http::BindStatus status) {
    switch (status) {
        case http::BindStatus::kBeginDownloadData:
            host_.DownloadBar().SetTotal(static_cast<std::uint32_t>(max));
            if (host_.SizeProbe()) {
                return kAbort;  // the size is all that was asked for
            }
            break;
        case http::BindStatus::kDownloadingData:
        case http::BindStatus::kEndDownloadData:
            dataSeen_ = true;
            host_.DownloadBar().SetCurrent(static_cast<std::uint32_t>(progress));
            break;
    }
    return host_.StopDownload() ? kAbort : 0;
}

std::int32_t BSCHolder::OnProgress(std::uint64_t progress, std::uint64_t max,
                                   http::BindStatus status) {
    if (status == http::BindStatus::kBeginDownloadData && max != 0) {
        // Room for the whole body up front; cut again at the end.
        const auto announced = static_cast<std::int64_t>(max);
        if (file_.Seek(announced) == 0 && file_.SetEnd() == 0) {
            size_ = announced;
        }
        file_.Seek(0);
    }
    return inner_ != nullptr ? inner_->OnProgress(progress, max, status) : 0;
}

std::int32_t BSCHolder::OnData(const std::uint8_t* data, std::size_t size) {
    std::size_t written = 0;
    const std::uint32_t error = file_.Write(data, size, written);
    position_ += static_cast<std::int64_t>(written);
    if (error != 0) {
        writeFailed_ = true;
        result_ = platform::HResultFromWin32(error);
        return kAbort;
    }
    return 0;
}

HRESULT BSCHolder::OnStopBinding(HRESULT result) {
    if (result < 0 || position_ < size_) {
        if (result >= 0) {
            result = 1;  // fewer bytes than announced
        }
        file_.Seek(position_);
        file_.SetEnd();
    }
    if (!writeFailed_) {
        result_ = result;
    }
    return result_;
}

HRESULT DownloadByMoniker(const std::string& url, const std::string& path,
                          BindStatusCallback* inner) {
    platform::fs::FileHandle file;
    if (const std::uint32_t error = file.CreateAlways(path); error != 0) {
        return platform::HResultFromWin32(error);
    }
    BSCHolder holder(file, inner);
    return holder.OnStopBinding(http::PullUrl(url, holder));
}

std::string AppendTimestamp(const std::string& url) {
    const platform::SystemTime now = platform::UtcNow();
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%4d%02d%02d%02d%02d%02d%3d", now.year, now.month, now.day,
                  now.hour, now.minute, now.second, now.milliseconds);
    return url + (url.find('?') != std::string::npos ? "&" : "?") + "timestamp=" + stamp;
}

}  // namespace stubframework::core
