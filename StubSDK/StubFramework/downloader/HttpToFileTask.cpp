#include "downloader/HttpToFileTask.h"

#include <cinttypes>

#include "downloader/Object.h"

namespace downloader {

HttpToFileTask::HttpToFileTask(std::string url, stubframework::platform::fs::FileHandle* file,
                               std::int64_t offset, std::int64_t size,
                               IHttpToFileCallback* callback, ILogger* logger)
    : HttpResumeTask("HttpToFileTask", std::move(url), logger),
      file_(file),
      offset_(offset),
      remaining_(size),
      callback_(Ptr<IHttpToFileCallback>::Share(callback)) {}

void HttpToFileTask::LogStart() {
    Logger().Log("HttpToFileTask::Start",
                 "Start download %s (OFFSET:%" PRId64 " SIZE:%" PRId64 ") to file.", Url().c_str(),
                 offset_, remaining_);
}

void HttpToFileTask::OnHttpHeader(const HttpHeader& header) {
    switch (header.status) {
        case 200:
            // A whole body fits a request from the first byte, or a file that
            // holds the resource from its own first byte.
            if (offset_ == 0 && header.total == remaining_) {
                etag_ = header.etag;
                return;
            }
            if (RestartFromStart(header)) {
                return;
            }
            Logger().Log("HttpToFileTask::OnHttpStatusOK",
                         "Unexpected content length %" PRId64 "/(OFFSET:%" PRId64 " SIZE:%" PRId64
                         ").",
                         header.total, offset_, remaining_);
            break;
        case 206:
            if (header.offset == offset_ && header.size == remaining_) {
                return;
            }
            Logger().Log("HttpToFileTask::OnHttpStatusPartialContent",
                         "Unexpected content range (OFFSET:%" PRId64 " SIZE:%" PRId64
                         " TOTAL:%" PRId64 ")/(OFFSET:%" PRId64 " SIZE:%" PRId64 ").",
                         header.offset, header.size, header.total, offset_, remaining_);
            break;
        default:
            Logger().Log("HttpToFileTask::OnHttpHeader", "Unexpected HTTP status code %d.",
                         header.status);
            break;
    }
    Finish(kInvalidServerResponse);
}

bool HttpToFileTask::RestartFromStart(const HttpHeader& header) {
    static constexpr const char* kName = "HttpToFileTask::OnHttpStatusOK";
    if (header.total != offset_ + remaining_ || file_->Position() != offset_) {
        return false;
    }
    if (restarts_ == kMaxRestarts) {
        Logger().Log(kName, "Ranges ignored %d times and the transfer breaks off: given up.",
                     restarts_);
        return false;
    }
    ++restarts_;
    if (const std::uint32_t error = file_->Seek(0); error != 0) {
        Logger().Log(kName, "SetFilePointerEx failed %u.", error);
        return false;
    }
    Logger().Log(kName, "Ranges ignored: the whole resource from byte 0 (%d of %d).", restarts_,
                 kMaxRestarts);
    offset_ = 0;
    remaining_ = header.total;
    etag_ = header.etag;
    return true;
}

void HttpToFileTask::OnData(const Buffer& data) {
    static constexpr const char* kName = "HttpToFileTask::OnData";
    const std::int64_t size = data.Size();
    if (size > remaining_) {
        Logger().Log(kName, "Data large than expected %" PRId64, size - remaining_);
        Finish(kInvalidServerResponse);
        return;
    }
    std::size_t written = 0;
    if (const std::uint32_t error = file_->Write(data.Data(), data.Size(), written); error != 0) {
        Logger().Log(kName, "WriteFile failed %u.", error);
        Finish(ResultFromError(static_cast<std::int32_t>(error)));
    }
    callback_->OnWritten(offset_, static_cast<std::int64_t>(written));
    offset_ += static_cast<std::int64_t>(written);
    CountDelivered(static_cast<std::int64_t>(written));
    remaining_ -= static_cast<std::int64_t>(written);
}

void HttpToFileTask::LogShort() {
    Logger().Log("HttpToFileTask::OnComplete", "Data not complete %" PRId64 " needed.", remaining_);
}

void HttpToFileTask::Report(Result result) {
    Logger().Log("HttpToFileTask::OnComplete", "Complete.");
    callback_->OnComplete(result);
    callback_.Reset();
}

ITask* CreateHttpToFileTask(const std::string& url, stubframework::platform::fs::FileHandle* file,
                            std::int64_t offset, std::int64_t size, IHttpToFileCallback* callback,
                            ILogger* logger) {
    if (url.empty() || file == nullptr || callback == nullptr || logger == nullptr) {
        return nullptr;
    }
    return details::Create<HttpToFileTask>(url, file, offset, size, callback, logger);
}

}  // namespace downloader
