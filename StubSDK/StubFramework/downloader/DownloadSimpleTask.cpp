#include "downloader/DownloadSimpleTask.h"

#include <algorithm>
#include <cinttypes>

#include "downloader/HashTask.h"
#include "downloader/HttpToFileTask.h"
#include "downloader/HttpToMemTask.h"
#include "platform/error.h"

namespace downloader {
namespace {

class DownloadMetaCallback : public ITaskCallback<HttpToMemResult&&> {
public:
    explicit DownloadMetaCallback(DownloadSimpleTask* task) : task_(task) {}
    void OnComplete(HttpToMemResult&& result) override { task_->OnMetaComplete(std::move(result)); }

protected:
    ~DownloadMetaCallback() = default;

private:
    DownloadSimpleTask* const task_;
};

class HashCallback : public IHashCallback {
public:
    explicit HashCallback(DownloadSimpleTask* task) : task_(task) {}
    void OnHash(const BlockHash& digest) override { task_->OnHash(digest); }
    void OnComplete(HashResult result) override { task_->OnHashComplete(result); }

protected:
    ~HashCallback() = default;

private:
    DownloadSimpleTask* const task_;
};

class DownloadFileCallback : public IHttpToFileCallback {
public:
    explicit DownloadFileCallback(DownloadSimpleTask* task) : task_(task) {}
    void OnWritten(std::int64_t offset, std::int64_t size) override {
        task_->OnWritten(offset, size);
    }
    void OnComplete(Result result) override { task_->OnDownloadComplete(result); }

protected:
    ~DownloadFileCallback() = default;

private:
    DownloadSimpleTask* const task_;
};

}  // namespace

DownloadSimpleTask::DownloadSimpleTask(std::string url, std::string metaUrl, std::string path,
                                       IDownloadCallback* callback, ILogger* logger)
    : CompositeTask("DownloadSimpleTask", kDownloadCancelled, logger),
      url_(std::move(url)),
      metaUrl_(std::move(metaUrl)),
      path_(std::move(path)),
      callback_(Ptr<IDownloadCallback>::Share(callback)) {}

void DownloadSimpleTask::LogStart() {
    Logger().Log("DownloadSimpleTask::Start", "Start download %s to %s.", url_.c_str(),
                 path_.c_str());
}

bool DownloadSimpleTask::FailOnError(const char* function, const char* call, std::uint32_t error) {
    if (error == 0) {
        return false;
    }
    Logger().Log(function, "%s failed %u.", call, error);
    Finish(ResultFromError(static_cast<std::int32_t>(error)));
    return true;
}

bool DownloadSimpleTask::StartMeta() {
    static constexpr const char* kName = "DownloadSimpleTask::StartMeta";
    const auto events =
        Ptr<DownloadMetaCallback>::Attach(details::Create<DownloadMetaCallback>(this));
    if (!events) {
        Logger().Log(kName, "Create DownloadMetaCallback failed.");
        Finish(kOutOfMemory);
        return false;
    }
    ITask* const task = CreateHttpToMemTask(metaUrl_, events.Get(), &Logger());
    if (task == nullptr) {
        Logger().Log(kName, "Create HttpToMemTask failed.");
        Finish(kOutOfMemory);
        return false;
    }
    StartSubTask(task);
    return true;
}

void DownloadSimpleTask::OnMetaComplete(HttpToMemResult&& result) {
    const Ptr<ITask> alive = KeepAlive();
    if (!Enter()) {
        ReportEnd();
        return;
    }
    if (result.hr != kSuccess) {
        Finish(result.hr);
        ReportEnd();
        return;
    }
    if (!CreateDownloadMetaSimple(result.buffer.Data(), result.buffer.Size(), meta_)) {
        Logger().Log("DownloadSimple::OnMetaComplete", "CreateDownloadMetaSimple failed.");
        Finish(kFailed);
        ReportEnd();
        return;
    }
    total_ = meta_.fileSize;
    current_ = 0;
    callback_->OnProgress(0, total_);
    if (!PrepareStart() || !StartHash()) {
        ReportEnd();
        return;
    }
    Leave();
}

bool DownloadSimpleTask::PrepareStart() {
    static constexpr const char* kName = "DownloadSimpleTask::PrepareStart";
    const bool existed = stubframework::platform::fs::Exists(path_);
    if (FailOnError(kName, "CreateFileW", file_.OpenAlways(path_))) {
        return false;
    }
    // Room for what is still to come, before the file is stretched to its
    // size: a meta file may announce more than the volume holds.
    const std::int64_t missing = total_ - std::max<std::int64_t>(file_.Size(), 0);
    std::uint64_t free = 0;
    if (missing > 0 &&
        stubframework::platform::fs::FreeSpace(path_, free) ==
            stubframework::platform::kErrorSuccess &&
        free < static_cast<std::uint64_t>(missing)) {
        Logger().Log(kName, "%" PRId64 " bytes more do not fit in the %" PRIu64 " bytes free.",
                     missing, free);
        file_.Close();
        if (!existed) {
            stubframework::platform::fs::DeleteFile(path_);
        }
        Finish(ResultFromError(static_cast<std::int32_t>(stubframework::platform::kErrorDiskFull)));
        return false;
    }
    // Exactly the package's size: longer files are cut, shorter ones extended.
    if (FailOnError(kName, "SetFilePointerEx", file_.Seek(total_)) ||
        FailOnError(kName, "SetEndOfFile", file_.SetEnd())) {
        file_.Close();
        return false;
    }
    block_ = 0;
    return true;
}

bool DownloadSimpleTask::StartHash() {
    static constexpr const char* kName = "DownloadSimpleTask::StartHash";
    if (FailOnError(kName, "SetFilePointerEx",
                    file_.Seek(static_cast<std::int64_t>(block_) * kBlockSize))) {
        return false;
    }
    const auto events = Ptr<HashCallback>::Attach(details::Create<HashCallback>(this));
    if (!events) {
        Logger().Log(kName, "Create HashCallback failed.");
        Finish(kOutOfMemory);
        return false;
    }
    ITask* const task = CreateHashTask(&file_, events.Get());
    if (task == nullptr) {
        Logger().Log(kName, "Create HashTask failed.");
        Finish(kOutOfMemory);
        return false;
    }
    Logger().Log(kName, "Start hash from block %zu.", block_);
    StartSubTask(task);
    return true;
}

// On the hash thread, without a hold: only the current hash task calls it.
void DownloadSimpleTask::OnHash(const BlockHash& digest) {
    static constexpr const char* kName = "DownloadSimpleTask::OnHash";
    if (block_ >= meta_.blocks.size()) {
        Logger().Log(kName, "Unexpected hash data %zu/%zu.", block_, meta_.blocks.size());
        Finish(kFailed);
        return;
    }
    if (digest != meta_.blocks[block_]) {
        Logger().Log(kName, "Hash mismatch found for block %zu.", block_);
        SubTask()->Cancel();
        return;
    }
    ++block_;
    const std::int64_t position = std::min(static_cast<std::int64_t>(block_) * kBlockSize, total_);
    current_ = std::max(current_, position);
    callback_->OnProgress(current_, total_);
}

void DownloadSimpleTask::OnHashComplete(HashResult result) {
    const Ptr<ITask> alive = KeepAlive();
    static constexpr const char* kName = "DownloadSimpleTask::OnHashComplete";
    if (Enter()) {
        if (result == HashFailed) {
            Logger().Log(kName, "Hash failed.");
            Finish(kFailed);
        } else if (block_ < meta_.blocks.size()) {
            Logger().Log(kName, "Hash mismatch.");
            // A server whose data never matches its meta file would otherwise
            // have the same tail downloaded forever.
            if (downloaded_) {
                passesAtOneBlock_ = block_ == lastBadBlock_ ? passesAtOneBlock_ + 1 : 1;
                lastBadBlock_ = block_;
            }
            if (passesAtOneBlock_ >= kMaxPassesAtOneBlock) {
                Logger().Log(kName,
                             "Block %zu still differs from the meta file after %d downloads.",
                             block_, passesAtOneBlock_);
                Finish(kFailed);
            } else if (StartDownload()) {
                Leave();
                return;
            }
        } else {
            Logger().Log(kName, "Hash success.");
            Finish(kSuccess);
        }
    }
    ReportEnd();
}

bool DownloadSimpleTask::StartDownload() {
    static constexpr const char* kName = "DownloadSimpleTask::StartDownload";
    const std::int64_t offset = static_cast<std::int64_t>(block_) * kBlockSize;
    if (FailOnError(kName, "SetFilePointerEx", file_.Seek(offset))) {
        return false;
    }
    current_ = offset;
    callback_->OnProgress(current_, total_);
    const auto events =
        Ptr<DownloadFileCallback>::Attach(details::Create<DownloadFileCallback>(this));
    if (!events) {
        Logger().Log(kName, "Create DownloadFileCallback failed.");
        Finish(kOutOfMemory);
        return false;
    }
    // Always to the end of the file, whatever the state of the later blocks.
    ITask* const task =
        CreateHttpToFileTask(url_, &file_, offset, total_ - offset, events.Get(), &Logger());
    if (task == nullptr) {
        Logger().Log(kName, "Create HttpToFileTask failed.");
        Finish(kOutOfMemory);
        return false;
    }
    downloaded_ = true;
    lowestWritten_ = offset;
    StartSubTask(task);
    return true;
}

void DownloadSimpleTask::OnWritten(std::int64_t offset, std::int64_t size) {
    lowestWritten_ = std::min(lowestWritten_, offset);
    current_ = offset + size;
    callback_->OnProgress(current_, total_);
}

void DownloadSimpleTask::OnDownloadComplete(Result result) {
    const Ptr<ITask> alive = KeepAlive();
    if (Enter()) {
        if (result == kSuccess) {
            // A server that ignored the range rewrote blocks already checked.
            const auto rewritten = static_cast<std::size_t>(lowestWritten_ / kBlockSize);
            if (rewritten < block_) {
                Logger().Log("DownloadSimpleTask::OnDownloadComplete",
                             "Rewritten from block %zu: hash again from there.", rewritten);
                block_ = rewritten;
            }
            if (StartHash()) {  // again from the first block downloaded
                Leave();
                return;
            }
        } else {
            Finish(result);
        }
    }
    ReportEnd();
}

// The file is closed on every path that ends the task after it was opened.
void DownloadSimpleTask::Report(Result result) {
    file_.Close();
    callback_->OnComplete(result);
    callback_.Reset();
}

ITask* CreateDownloadSimpleTask(const std::string& url, const std::string& metaUrl,
                                const std::string& path, IDownloadCallback* callback,
                                ILogger* logger) {
    if (url.empty() || metaUrl.empty() || path.empty() || callback == nullptr ||
        logger == nullptr) {
        return nullptr;
    }
    return details::Create<DownloadSimpleTask>(url, metaUrl, path, callback, logger);
}

}  // namespace downloader
