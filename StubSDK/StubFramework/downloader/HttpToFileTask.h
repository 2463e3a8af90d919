// Fetches one byte range of a resource into an open file at the file's
// current position, checking every answer against the request. A body that
// ends early is resumed for what remains, guarded by the ETag of a 200.
#pragma once

#include <string>

#include "downloader/ForwardingCallbacks.h"
#include "downloader/Object.h"
#include "downloader/TaskLock.h"
#include "downloader/TaskModel.h"
#include "platform/fs.h"

namespace downloader {

class HttpToFileTask : public ITask, public TaskLock<HttpToFileTask> {
public:
    HttpToFileTask(std::string url, stubframework::platform::fs::FileHandle* file,
                   std::int64_t offset, std::int64_t size, IHttpToFileCallback* callback,
                   ILogger* logger);

    void Start() override;
    void Cancel() override;
    void Interrupt();

    // Events of the current HttpTask.
    void OnHttpHeader(const HttpHeader& header);
    void OnData(const Buffer& data);
    void OnHttpComplete(Result result);

protected:
    ~HttpToFileTask();

private:
    bool StartHttp();
    void ReportEnd();

    const std::string url_;
    std::int64_t passBytes_ = 0;                           // what the current request has delivered
    stubframework::platform::fs::FileHandle* const file_;  // not owned
    std::int64_t offset_;
    std::int64_t remaining_;
    details::Ref<IHttpToFileCallback> callback_;
    ITask* httpTask_ = nullptr;  // kept until replaced or destroyed: a late Interrupt may use it
    std::string etag_;
    ILogger* const logger_;
};

// A new task for `size` bytes from `offset`, written at the file's current
// position; null when an argument is null or memory is short.
ITask* CreateHttpToFileTask(const std::string& url, stubframework::platform::fs::FileHandle* file,
                            std::int64_t offset, std::int64_t size, IHttpToFileCallback* callback,
                            ILogger* logger);

}  // namespace downloader
