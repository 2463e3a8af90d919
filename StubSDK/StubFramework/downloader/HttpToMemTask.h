// Fetches a whole resource into memory, sized by the first 200 answer. A
// body that ends early is resumed with a range request guarded by the ETag.
#pragma once

#include <string>

#include "downloader/HttpResumeTask.h"
#include "downloader/TaskModel.h"

namespace downloader {

class HttpToMemTask : public HttpResumeTask<HttpToMemTask> {
public:
    using Callback = ITaskCallback<HttpToMemResult&&>;

    HttpToMemTask(std::string url, Callback* callback, ILogger* logger);

    // Events of the current HttpTask.
    void OnHttpHeader(const HttpHeader& header);
    void OnData(const Buffer& data);

    // What the base asks of the task.
    void LogStart();
    HttpRange NextRange();
    bool Done() const { return received_ == static_cast<std::int64_t>(buffer_.Size()); }
    void LogShort();
    void Report(Result result);

protected:
    ~HttpToMemTask() = default;

private:
    void OnStatusOk(const HttpHeader& header);
    void OnStatusPartialContent(const HttpHeader& header);

    Ptr<Callback> callback_;
    std::string etag_;
    std::int64_t received_ = 0;
    bool sized_ = false;  // a 200 answer gave the size
    Buffer buffer_;
};

// A new task, holding references on callback and logger; null when an
// argument is null or memory is short.
ITask* CreateHttpToMemTask(const std::string& url, HttpToMemTask::Callback* callback,
                           ILogger* logger);

}  // namespace downloader
