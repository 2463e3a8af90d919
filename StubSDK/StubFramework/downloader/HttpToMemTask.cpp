#include "downloader/HttpToMemTask.h"

#include <cinttypes>
#include <cstring>

#include "downloader/HttpTask.h"

namespace downloader {

HttpToMemTask::HttpToMemTask(std::string url, Callback* callback, ILogger* logger)
    : url_(std::move(url)),
      callback_(callback),
      httpCallback_(details::Create<details::ForwardHttp<HttpToMemTask>>(this)),
      logger_(logger) {
    logger_->AddRef();
}

HttpToMemTask::~HttpToMemTask() {
    if (httpTask_ != nullptr) {
        httpTask_->Release();
    }
    if (httpCallback_ != nullptr) {
        httpCallback_->Release();
    }
    logger_->Release();
}

void HttpToMemTask::Start() {
    const details::KeepAlive<ITask> alive(this);
    if (!StartEntry()) {
        return;
    }
    logger_->Log("HttpToMemTask::Start", "Start download %s to memory.", url_.c_str());
    AddRef();
    if (StartHttp()) {
        Leave();
        return;
    }
    Finish(kOutOfMemory);
    ReportEnd();
}

void HttpToMemTask::Cancel() {
    logger_->Log("HttpToMemTask::Cancel", "Cancel.");
    Finish(kHttpCancelled);
}

void HttpToMemTask::Interrupt() {
    if (httpTask_ != nullptr) {
        httpTask_->Cancel();
    }
}

bool HttpToMemTask::StartHttp() {
    passBytes_ = 0;
    HttpRange range;
    if (sized_) {
        // A resume: the rest, from what arrived; the server trims the range.
        range.offset = received_;
        range.size = buffer_.Size();
        range.etag = etag_;
    }
    if (httpTask_ != nullptr) {
        httpTask_->Release();
    }
    httpTask_ = CreateHttpTask(url_, std::move(range), httpCallback_, logger_);
    if (httpTask_ == nullptr) {
        logger_->Log("HttpToMemTask::StartHttp", "Create HttpTask failed.");
        return false;
    }
    httpTask_->Start();
    return true;
}

void HttpToMemTask::OnHttpHeader(const HttpHeader& header) {
    switch (header.status) {
        case 200:
            OnStatusOk(header);
            return;
        case 206:
            OnStatusPartialContent(header);
            return;
        default:
            logger_->Log("HttpToMemTask::OnHttpHeader", "Unexpected HTTP status code %d.",
                         header.status);
            Finish(kInvalidServerResponse);
    }
}

void HttpToMemTask::OnStatusOk(const HttpHeader& header) {
    static constexpr const char* kName = "HttpToMemTask::OnHttpStatusOK";
    if (header.total < 0) {
        logger_->Log(kName, "Unexpected content length %" PRId64 ".", header.total);
        Finish(kInvalidServerResponse);
        return;
    }
    if (header.total >= 0x7FFFFFFF) {
        logger_->Log(kName, "Buffer::SetSize(%" PRId64 ") failed.", header.total);
        Finish(kOutOfMemory);
        return;
    }
    const auto size = static_cast<std::uint32_t>(header.total);
    if ((buffer_.Size() != size || !sized_) && !buffer_.SetSize(size)) {
        logger_->Log(kName, "Buffer::SetSize(%" PRId64 ") failed.", header.total);
        Finish(kOutOfMemory);
        return;
    }
    // Also the answer to a resume: the resource changed, so it starts over.
    sized_ = true;
    etag_ = header.etag;
    received_ = 0;
}

void HttpToMemTask::OnStatusPartialContent(const HttpHeader& header) {
    const auto size = static_cast<std::int64_t>(buffer_.Size());
    if (sized_ && header.total == size && header.offset == received_ &&
        header.offset + header.size == header.total) {
        return;
    }
    logger_->Log("HttpToMemTask::OnHttpStatusPartialContent",
                 "Unexpected content range (OFFSET:%" PRId64 " SIZE:%" PRId64 " TOTAL:%" PRId64
                 ")/(POS:%" PRId64 " SIZE:%u).",
                 header.offset, header.size, header.total, received_, buffer_.Size());
    Finish(kInvalidServerResponse);
}

void HttpToMemTask::OnData(const Buffer& data) {
    const std::int64_t end = received_ + data.Size();
    if (end > static_cast<std::int64_t>(buffer_.Size())) {
        logger_->Log("HttpToMemTask::OnData", "Data large than expected %" PRId64 "/%u.", end,
                     buffer_.Size());
        Finish(kInvalidServerResponse);
        return;
    }
    if (data.Size() != 0) {
        std::memcpy(buffer_.Data() + received_, data.Data(), data.Size());
    }
    received_ = end;
    passBytes_ += data.Size();
}

void HttpToMemTask::OnHttpComplete(Result result) {
    const details::KeepAlive<ITask> alive(this);
    if (Enter()) {
        if (result == kSuccess && received_ != static_cast<std::int64_t>(buffer_.Size())) {
            logger_->Log("HttpToMemTask::OnComplete", "Data not complete %" PRId64 "/%u.",
                         received_, buffer_.Size());
            // Resumes that bring nothing would ask again forever.
            if (passBytes_ == 0) {
                logger_->Log("HttpToMemTask::OnComplete", "No data in the answer.");
                result = kInvalidServerResponse;
            } else if (StartHttp()) {
                Leave();
                return;
            } else {
                result = kOutOfMemory;
            }
        }
        Finish(result);
    }
    ReportEnd();
}

void HttpToMemTask::ReportEnd() {
    logger_->Log("HttpToMemTask::OnComplete", "Complete.");
    callback_->OnComplete(HttpToMemResult{TaskResult(), std::move(buffer_)});
    callback_.Reset();
    Release();
}

ITask* CreateHttpToMemTask(const std::string& url, HttpToMemTask::Callback* callback,
                           ILogger* logger) {
    if (url.empty() || callback == nullptr || logger == nullptr) {
        return nullptr;
    }
    auto* task = details::Create<HttpToMemTask>(url, callback, logger);
    if (task != nullptr && !task->Ready()) {
        task->Release();
        return nullptr;
    }
    return task;
}

}  // namespace downloader
