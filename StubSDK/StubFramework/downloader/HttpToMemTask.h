// Fetches a whole resource into memory, sized by the first 200 answer. A
// body that ends early is resumed with a range request guarded by the ETag.
#pragma once

#include <string>

#include "downloader/ForwardingCallbacks.h"
#include "downloader/Object.h"
#include "downloader/TaskLock.h"
#include "downloader/TaskModel.h"

namespace downloader {

class HttpToMemTask : public ITask, public TaskLock<HttpToMemTask> {
public:
    using Callback = ITaskCallback<HttpToMemResult&&>;

    HttpToMemTask(std::string url, Callback* callback, ILogger* logger);
    bool Ready() const { return httpCallback_ != nullptr; }

    void Start() override;
    void Cancel() override;
    void Interrupt();

    // Events of the current HttpTask.
    void OnHttpHeader(const HttpHeader& header);
    void OnData(const Buffer& data);
    void OnHttpComplete(Result result);

protected:
    ~HttpToMemTask();

private:
    bool StartHttp();
    void OnStatusOk(const HttpHeader& header);
    void OnStatusPartialContent(const HttpHeader& header);
    void ReportEnd();

    const std::string url_;
    std::int64_t passBytes_ = 0;  // what the current request has delivered
    details::Ref<Callback> callback_;
    details::Object<details::ForwardHttp<HttpToMemTask>>* httpCallback_;
    ITask* httpTask_ = nullptr;  // kept until replaced or destroyed: a late Interrupt may use it
    std::string etag_;
    std::int64_t received_ = 0;
    bool sized_ = false;  // a 200 answer gave the size
    Buffer buffer_;
    ILogger* const logger_;
};

// A new task, holding references on callback and logger; null when an
// argument is null or memory is short.
ITask* CreateHttpToMemTask(const std::string& url, HttpToMemTask::Callback* callback,
                           ILogger* logger);

}  // namespace downloader
