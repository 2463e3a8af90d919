// Fetches one byte range of a resource into an open file at the file's
// current position, checking every answer against the request. A body that
// ends early is resumed for what remains, guarded by the ETag of a 200. When
// the file holds the resource at its own offsets (the file's position is the
// range's offset), a server that ignores ranges is followed: its whole
// answer is written from the file's start.
#pragma once

#include <string>

#include "downloader/HttpResumeTask.h"
#include "downloader/TaskModel.h"
#include "platform/fs.h"

namespace downloader {

class HttpToFileTask : public HttpResumeTask<HttpToFileTask> {
public:
    // A server that ignores ranges answers every resume with the whole
    // resource; it is taken from its first byte this many times at most.
    static constexpr int kMaxRestarts = 3;

    HttpToFileTask(std::string url, stubframework::platform::fs::FileHandle* file,
                   std::int64_t offset, std::int64_t size, IHttpToFileCallback* callback,
                   ILogger* logger);

    // Events of the current HttpTask.
    void OnHttpHeader(const HttpHeader& header);
    void OnData(const Buffer& data);

    // What the base asks of the task.
    void LogStart();
    HttpRange NextRange() { return HttpRange{offset_, remaining_, etag_}; }
    bool Done() const { return remaining_ == 0; }
    void LogShort();
    void Report(Result result);

protected:
    ~HttpToFileTask() = default;

private:
    // A 200 answer to a ranged request: the whole resource from byte 0.
    bool RestartFromStart(const HttpHeader& header);

    stubframework::platform::fs::FileHandle* const file_;  // not owned
    std::int64_t offset_;
    std::int64_t remaining_;
    Ptr<IHttpToFileCallback> callback_;
    std::string etag_;
    int restarts_ = 0;
};

// A new task for `size` bytes from `offset`, written at the file's current
// position; null when an argument is null or memory is short.
ITask* CreateHttpToFileTask(const std::string& url, stubframework::platform::fs::FileHandle* file,
                            std::int64_t offset, std::int64_t size, IHttpToFileCallback* callback,
                            ILogger* logger);

}  // namespace downloader
