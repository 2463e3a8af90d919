#include "downloader/HttpToMemTask.h"

#include <cinttypes>
#include <cstring>

#include "downloader/Object.h"

namespace downloader {

HttpToMemTask::HttpToMemTask(std::string url, Callback* callback, ILogger* logger)
    : HttpResumeTask("HttpToMemTask", std::move(url), logger),
      callback_(Ptr<Callback>::Share(callback)) {}

void HttpToMemTask::LogStart() {
    Logger().Log("HttpToMemTask::Start", "Start download %s to memory.", Url().c_str());
}

HttpRange HttpToMemTask::NextRange() {
    HttpRange range;
    if (sized_) {
        // A resume: the rest, from what arrived; the server trims the range.
        range.offset = received_;
        range.size = buffer_.Size();
        range.etag = etag_;
    }
    return range;
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
            Logger().Log("HttpToMemTask::OnHttpHeader", "Unexpected HTTP status code %d.",
                         header.status);
            Finish(kInvalidServerResponse);
    }
}

void HttpToMemTask::OnStatusOk(const HttpHeader& header) {
    static constexpr const char* kName = "HttpToMemTask::OnHttpStatusOK";
    if (header.total < 0) {
        Logger().Log(kName, "Unexpected content length %" PRId64 ".", header.total);
        Finish(kInvalidServerResponse);
        return;
    }
    if (header.total >= 0x7FFFFFFF) {
        Logger().Log(kName, "Buffer::SetSize(%" PRId64 ") failed.", header.total);
        Finish(kOutOfMemory);
        return;
    }
    const auto size = static_cast<std::uint32_t>(header.total);
    if ((buffer_.Size() != size || !sized_) && !buffer_.SetSize(size)) {
        Logger().Log(kName, "Buffer::SetSize(%" PRId64 ") failed.", header.total);
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
    Logger().Log("HttpToMemTask::OnHttpStatusPartialContent",
                 "Unexpected content range (OFFSET:%" PRId64 " SIZE:%" PRId64 " TOTAL:%" PRId64
                 ")/(POS:%" PRId64 " SIZE:%u).",
                 header.offset, header.size, header.total, received_, buffer_.Size());
    Finish(kInvalidServerResponse);
}

void HttpToMemTask::OnData(const Buffer& data) {
    const std::int64_t end = received_ + data.Size();
    if (end > static_cast<std::int64_t>(buffer_.Size())) {
        Logger().Log("HttpToMemTask::OnData", "Data large than expected %" PRId64 "/%u.", end,
                     buffer_.Size());
        Finish(kInvalidServerResponse);
        return;
    }
    if (data.Size() != 0) {
        std::memcpy(buffer_.Data() + received_, data.Data(), data.Size());
    }
    received_ = end;
    CountDelivered(data.Size());
}

void HttpToMemTask::LogShort() {
    Logger().Log("HttpToMemTask::OnComplete", "Data not complete %" PRId64 "/%u.", received_,
                 buffer_.Size());
}

void HttpToMemTask::Report(Result result) {
    Logger().Log("HttpToMemTask::OnComplete", "Complete.");
    callback_->OnComplete(HttpToMemResult{result, std::move(buffer_)});
    callback_.Reset();
}

ITask* CreateHttpToMemTask(const std::string& url, HttpToMemTask::Callback* callback,
                           ILogger* logger) {
    if (url.empty() || callback == nullptr || logger == nullptr) {
        return nullptr;
    }
    return details::Create<HttpToMemTask>(url, callback, logger);
}

}  // namespace downloader
