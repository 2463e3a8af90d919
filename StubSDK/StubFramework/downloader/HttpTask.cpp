#include "downloader/HttpTask.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "downloader/ContentRange.h"

namespace downloader {
namespace {

namespace http = stubframework::platform::http;

Result FromError(std::uint32_t error) {
    return ResultFromError(static_cast<std::int32_t>(error));
}

// A Content-Length as a whole number; -1 when absent or not a number.
std::int64_t ParseLength(const std::string& text) {
    if (text.empty() || text.size() > 18) {
        return -1;
    }
    std::int64_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9') {
            return -1;
        }
        value = value * 10 + (digit - '0');
    }
    return value;
}

}  // namespace

HttpTask::HttpTask(std::string url, HttpRange&& range, IHttpCallback* callback, ILogger* logger)
    // The caller's ETag is moved out, leaving it empty.
    : url_(std::move(url)),
      range_{range.offset, range.size, std::exchange(range.etag, {})},
      callback_(Ptr<IHttpCallback>::Share(callback)),
      logger_(Ptr<ILogger>::Share(logger)) {}

HttpTask::~HttpTask() = default;

void HttpTask::Start() {
    const auto alive = Ptr<ITask>::Share(this);
    if (!StartEntry()) {
        return;
    }
    logger_->Log("HttpTask::Start", "Start %s (OFFSET:%" PRId64 ",SIZE:%" PRId64 ",ETAG:%s).",
                 url_.c_str(), range_.offset, range_.size, range_.etag.c_str());
    Result result = kOutOfMemory;
    if (CreateSession()) {
        result = Connect(RangeHeaders());
    }
    if (result != kSuccess) {
        callback_->OnComplete(result);
        callback_.Reset();
        return;
    }
    AddRef();  // dropped when the request has closed
    http::SendRequest(request_);
    Leave();
}

void HttpTask::Cancel() {
    logger_->Log("HttpTask::Cancel", "Cancel");
    Finish(kHttpCancelled);
}

void HttpTask::Interrupt() {
    http::CloseRequest(request_);
}

bool HttpTask::CreateSession() {
    userAgent_ = http::BrowserUserAgent();
    return true;
}

Result HttpTask::Connect(const std::vector<std::string>& headers) {
    http::UrlParts parts;
    if (const std::uint32_t error = http::CrackUrl(url_, parts); error != 0) {
        logger_->Log("HttpTask::Connect", "InternetCrackUrlW failed: %u.", error);
        return FromError(error);
    }
    if (parts.scheme != "http" && parts.scheme != "https") {
        return kUnrecognizedScheme;
    }
    std::uint32_t error = 0;
    request_ = http::OpenRequest({url_, userAgent_, headers}, this, error);
    if (request_ == nullptr) {
        logger_->Log("HttpTask::Connect", "HttpOpenRequestW failed: %u.", error);
        return FromError(error);
    }
    return kSuccess;
}

std::vector<std::string> HttpTask::RangeHeaders() {
    std::vector<std::string> headers;
    if (range_.size == 0) {
        return headers;  // the whole resource: an ETag alone means nothing
    }
    char text[64];
    std::snprintf(text, sizeof text, "Range: bytes=%" PRId64 "-%" PRId64, range_.offset,
                  range_.offset + range_.size - 1);
    logger_->Log("HttpTask::SetRange", "%s", text);
    headers.emplace_back(text);
    if (!range_.etag.empty()) {
        headers.push_back("If-Range: " + range_.etag);
        logger_->Log("HttpTask::SetIfRange", "%s", headers.back().c_str());
    }
    return headers;
}

void HttpTask::ProcessHeader(const http::Response& response) {
    HttpHeader header;
    header.status = response.status;
    if (header.status < 0) {
        logger_->Log("HttpTask::GetStatusCode", "HttpQueryInfoA failed %u.",
                     http::kErrorHeaderNotFound);
    }
    header.etag = response.Header("ETag").value_or("");
    ContentRange range;
    const std::string contentRange = response.Header("Content-Range").value_or("");
    if (!contentRange.empty() && !ParseContentRange(contentRange, range)) {
        logger_->Log("HttpTask::GetContentRange", "Unknown content range %s.",
                     contentRange.c_str());
        range = ContentRange{};
    }
    header.offset = range.offset;
    header.size = range.size;
    header.total = range.total;
    if (header.total < 0) {
        header.total = ParseLength(response.Header("Content-Length").value_or(""));
        if (header.total > 0) {
            header.size = header.total;
        }
    }
    logger_->Log("HttpTask::ProcessHeader",
                 "%d (OFFSET:%" PRId64 " SIZE:%" PRId64 " TOTAL:%" PRId64 " ETAG:%s).",
                 header.status, header.offset, header.size, header.total, header.etag.c_str());
    callback_->OnHttpHeader(header);
}

bool HttpTask::ProcessData(const std::uint8_t* data, std::size_t size) {
    Buffer buffer;
    if (!buffer.SetSize(static_cast<std::uint32_t>(size))) {
        logger_->Log("HttpTask::ProcessData", "Buffer::SetSize(%u) failed.",
                     static_cast<unsigned>(size));
        Finish(kOutOfMemory);
        return false;
    }
    std::memcpy(buffer.Data(), data, size);
    callback_->OnData(buffer);
    return true;
}

void HttpTask::OnConnectionStatus(http::ConnectionStatus status, const std::string& info) {
    static constexpr const char* kName = "HttpTask::InternetStatusCallback";
    switch (status) {
        case http::ConnectionStatus::kResolvingName:
            logger_->Log(kName, "INTERNET_STATUS_RESOLVING_NAME %s", info.c_str());
            break;
        case http::ConnectionStatus::kNameResolved:
            logger_->Log(kName, "INTERNET_STATUS_NAME_RESOLVED %s", info.c_str());
            break;
        case http::ConnectionStatus::kConnectingToServer:
            logger_->Log(kName, "INTERNET_STATUS_CONNECTING_TO_SERVER %s", info.c_str());
            break;
        case http::ConnectionStatus::kConnectedToServer:
            logger_->Log(kName, "INTERNET_STATUS_CONNECTED_TO_SERVER %s", info.c_str());
            break;
        case http::ConnectionStatus::kRedirect:
            logger_->Log(kName, "INTERNET_STATUS_REDIRECT %s", info.c_str());
            break;
        case http::ConnectionStatus::kIntermediateResponse:
            logger_->Log(kName, "INTERNET_STATUS_INTERMEDIATE_RESPONSE");
            break;
    }
}

void HttpTask::OnResponse(const http::Response& response) {
    if (!Enter()) {
        return;
    }
    ProcessHeader(response);
    Leave();
}

bool HttpTask::OnBody(const std::uint8_t* data, std::size_t size) {
    if (!Enter()) {
        return false;
    }
    const bool more = ProcessData(data, size);
    Leave();
    return more;
}

void HttpTask::OnTransferEnd(std::uint32_t error, const std::string& refused) {
    if (error == http::kErrorCancelled) {
        return;  // our own stop
    }
    if (!refused.empty()) {
        logger_->Log("HttpTask::ProcessHeader", "%s: refused.", refused.c_str());
    }
    if (error != 0) {
        logger_->Log("HttpTask::InternetStatusCallback",
                     "INTERNET_STATUS_REQUEST_COMPLETE failed: %u.", error);
        Finish(FromError(error));
        return;
    }
    if (!Enter()) {
        return;
    }
    logger_->Log("HttpTask::ProcessData", "Complete.");
    Finish(kSuccess);
    Leave();
}

// The request handle has closed: the one place the end is reported.
void HttpTask::OnClosed() {
    request_ = nullptr;
    callback_->OnComplete(TaskResult());
    callback_.Reset();
    Release();
}

ITask* CreateHttpTask(const std::string& url, HttpRange&& range, IHttpCallback* callback,
                      ILogger* logger) {
    if (url.empty() || callback == nullptr || logger == nullptr) {
        return nullptr;
    }
    return details::Create<HttpTask>(url, std::move(range), callback, logger);
}

}  // namespace downloader
