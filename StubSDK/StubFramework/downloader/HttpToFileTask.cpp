#include "downloader/HttpToFileTask.h"

#include <cinttypes>

#include "downloader/HttpTask.h"

namespace downloader {

using HttpCallback = details::ForwardHttp<HttpToFileTask>;

HttpToFileTask::HttpToFileTask(std::string url, stubframework::platform::fs::FileHandle* file,
                               std::int64_t offset, std::int64_t size,
                               IHttpToFileCallback* callback, ILogger* logger)
    : url_(std::move(url)),
      file_(file),
      offset_(offset),
      remaining_(size),
      callback_(callback),
      logger_(logger) {
    logger_->AddRef();
}

HttpToFileTask::~HttpToFileTask() {
    if (httpTask_ != nullptr) {
        httpTask_->Release();
    }
    logger_->Release();
}

void HttpToFileTask::Start() {
    const details::KeepAlive<ITask> alive(this);
    if (!StartEntry()) {
        return;
    }
    logger_->Log("HttpToFileTask::Start",
                 "Start download %s (OFFSET:%" PRId64 " SIZE:%" PRId64 ") to file.", url_.c_str(),
                 offset_, remaining_);
    AddRef();
    if (StartHttp()) {
        Leave();
        return;
    }
    Finish(kOutOfMemory);
    ReportEnd();
}

void HttpToFileTask::Cancel() {
    logger_->Log("HttpToFileTask::Cancel", "Cancel.");
    Finish(kHttpCancelled);
}

void HttpToFileTask::Interrupt() {
    if (httpTask_ != nullptr) {
        httpTask_->Cancel();
    }
}

bool HttpToFileTask::StartHttp() {
    passBytes_ = 0;
    static constexpr const char* kName = "HttpToFileTask::StartHttp";
    const details::Held<HttpCallback> events(details::Create<HttpCallback>(this));
    if (!events) {
        logger_->Log(kName, "Create HttpCallback failed.");
        return false;
    }
    if (httpTask_ != nullptr) {
        httpTask_->Release();
    }
    httpTask_ = CreateHttpTask(url_, HttpRange{offset_, remaining_, etag_}, events.get(), logger_);
    if (httpTask_ == nullptr) {
        logger_->Log(kName, "Create HttpTask failed.");
        return false;
    }
    httpTask_->Start();
    return true;
}

void HttpToFileTask::OnHttpHeader(const HttpHeader& header) {
    switch (header.status) {
        case 200:
            // A whole body fits only a request from the first byte.
            if (offset_ == 0 && header.total == remaining_) {
                etag_ = header.etag;
                return;
            }
            logger_->Log("HttpToFileTask::OnHttpStatusOK",
                         "Unexpected content length %" PRId64 "/(OFFSET:%" PRId64 " SIZE:%" PRId64
                         ").",
                         header.total, offset_, remaining_);
            break;
        case 206:
            if (header.offset == offset_ && header.size == remaining_) {
                return;
            }
            logger_->Log("HttpToFileTask::OnHttpStatusPartialContent",
                         "Unexpected content range (OFFSET:%" PRId64 " SIZE:%" PRId64
                         " TOTAL:%" PRId64 ")/(OFFSET:%" PRId64 " SIZE:%" PRId64 ").",
                         header.offset, header.size, header.total, offset_, remaining_);
            break;
        default:
            logger_->Log("HttpToFileTask::OnHttpHeader", "Unexpected HTTP status code %d.",
                         header.status);
            break;
    }
    Finish(kInvalidServerResponse);
}

void HttpToFileTask::OnData(const Buffer& data) {
    static constexpr const char* kName = "HttpToFileTask::OnData";
    const std::int64_t size = data.Size();
    if (size > remaining_) {
        logger_->Log(kName, "Data large than expected %" PRId64, size - remaining_);
        Finish(kInvalidServerResponse);
        return;
    }
    std::size_t written = 0;
    if (const std::uint32_t error = file_->Write(data.Data(), data.Size(), written); error != 0) {
        logger_->Log(kName, "WriteFile failed %u.", error);
        Finish(ResultFromError(static_cast<std::int32_t>(error)));
    }
    callback_->OnWritten(offset_, static_cast<std::int64_t>(written));
    offset_ += static_cast<std::int64_t>(written);
    passBytes_ += static_cast<std::int64_t>(written);
    remaining_ -= static_cast<std::int64_t>(written);
}

void HttpToFileTask::OnHttpComplete(Result result) {
    const details::KeepAlive<ITask> alive(this);
    if (Enter()) {
        if (result == kSuccess && remaining_ != 0) {
            logger_->Log("HttpToFileTask::OnComplete", "Data not complete %" PRId64 " needed.",
                         remaining_);
            // Resumes that bring nothing would ask again forever.
            if (passBytes_ == 0) {
                logger_->Log("HttpToFileTask::OnComplete", "No data in the answer.");
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

void HttpToFileTask::ReportEnd() {
    logger_->Log("HttpToFileTask::OnComplete", "Complete.");
    callback_->OnComplete(TaskResult());
    callback_.Reset();
    Release();
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
