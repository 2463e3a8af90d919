// The one way the workers download a file: the verified, resumable transport
// or the plain one, retried, with progress in the property store, the page's
// stop request honoured, and one result code for the page.
#pragma once

#include <cstdint>
#include <string>

#include "StubFramework.h"
#include "downloader/DownloadHost.h"
#include "downloader/Object.h"
#include "downloader/TaskModel.h"
#include "platform/thread.h"

namespace stubframework {

// Downloads `url` to `path`. `secure` asks for tokenized URLs; `resume`
// selects the verified transport (with the meta file at url + ".meta").
ErrorHandle DownloadWithRetry(DownloadHost& host, const std::string& url, const std::string& path,
                              bool secure, bool resume);

// Maps a transfer's code to the result the page sees, logging it first.
ErrorHandle TransferDownloadError(debug::InstallerLog* log, HRESULT result);
// Whether a result is worth another attempt.
bool IsRetried(ErrorHandle result);

// True when the file at `path` equals the published package whose meta file
// is at `metaUrl`, and also when there is no meta file to compare with (any
// answer but 200, redirects not followed).
bool IsFileSameAsRemote(const std::string& path, const std::string& metaUrl);

// One attempt of the verified transport: progress into the properties (low
// 32 bits), the task cancelled on a stop request, and every failure but a
// cancel or a full disk folded into a retryable one.
class DownloadCallback : public downloader::IDownloadCallback {
public:
    explicit DownloadCallback(DownloadHost& host) : host_(host) {}
    // The task to cancel on a stop request.
    void SetTask(downloader::Ptr<downloader::ITask> task) { task_ = std::move(task); }
    void OnProgress(std::int64_t current, std::int64_t total) override;
    void OnComplete(downloader::Result result) override;
    HRESULT Wait();

protected:
    ~DownloadCallback() = default;

private:
    DownloadHost& host_;
    platform::Event done_{true};
    // A cycle while the task runs: it holds this callback until its end.
    downloader::Ptr<downloader::ITask> task_;
    HRESULT result_ = 0;
};

}  // namespace stubframework
