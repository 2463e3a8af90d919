// One HTTP(S) GET, optionally of a byte range guarded by an ETag, streamed to
// an IHttpCallback: the response header once, each piece of the body as it
// arrives, then exactly one OnComplete after the request has been closed.
#pragma once

#include <string>

#include "downloader/Object.h"
#include "downloader/TaskLock.h"
#include "downloader/TaskModel.h"
#include "platform/http.h"

namespace downloader {

class HttpTask : public ITask,
                 public TaskLock<HttpTask>,
                 private stubframework::platform::http::RequestEvents {
public:
    HttpTask(std::string url, HttpRange&& range, IHttpCallback* callback, ILogger* logger);

    void Start() override;
    void Cancel() override;
    // Closes the request; its closing reports the end.
    void Interrupt();

protected:
    ~HttpTask();

private:
    bool CreateSession();
    Result Connect(const std::vector<std::string>& headers);
    std::vector<std::string> RangeHeaders();
    void ProcessHeader(const stubframework::platform::http::Response& response);
    bool ProcessData(const std::uint8_t* data, std::size_t size);

    void OnConnectionStatus(stubframework::platform::http::ConnectionStatus status,
                            const std::string& info) override;
    void OnResponse(const stubframework::platform::http::Response& response) override;
    bool OnBody(const std::uint8_t* data, std::size_t size) override;
    void OnTransferEnd(std::uint32_t error, const std::string& refused) override;
    void OnClosed() override;

    const std::string url_;
    HttpRange range_;
    Ptr<IHttpCallback> callback_;
    std::string userAgent_;
    stubframework::platform::http::Request* request_ = nullptr;
    const Ptr<ILogger> logger_;
};

// A new task for `url` (the range's ETag is moved out of the caller's
// record), holding references on callback and logger; null when an argument
// is null or memory is short.
ITask* CreateHttpTask(const std::string& url, HttpRange&& range, IHttpCallback* callback,
                      ILogger* logger);

}  // namespace downloader
