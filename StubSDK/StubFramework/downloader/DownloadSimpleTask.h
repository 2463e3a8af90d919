// Downloads one package so that the result is known to be byte-exact: fetch
// the meta file, size the local file, hash the blocks already there, and
// download from the first bad block to the end, hashing again after each
// pass. A file left by an interrupted run resumes at its first bad block.
#pragma once

#include <string>

#include "downloader/CompositeTask.h"
#include "downloader/MetaFile.h"
#include "downloader/TaskModel.h"
#include "platform/fs.h"

namespace downloader {

class DownloadSimpleTask : public CompositeTask<DownloadSimpleTask> {
public:
    // Download passes in a row after which the same block is the first bad
    // one: then the server's data does not match its meta file.
    static constexpr int kMaxPassesAtOneBlock = 2;

    DownloadSimpleTask(std::string url, std::string metaUrl, std::string path,
                       IDownloadCallback* callback, ILogger* logger);

    // What the base asks of the task.
    void LogStart();
    bool Begin() { return StartMeta(); }
    void Report(Result result);

    // Events of the sub-tasks.
    void OnMetaComplete(HttpToMemResult&& result);
    void OnHash(const BlockHash& digest);
    void OnHashComplete(HashResult result);
    void OnWritten(std::int64_t offset, std::int64_t size);
    void OnDownloadComplete(Result result);

protected:
    ~DownloadSimpleTask() = default;

private:
    bool StartMeta();
    bool PrepareStart();
    bool StartHash();
    bool StartDownload();
    // Logs "CALL failed CODE." and finishes with the error; false when there is none.
    bool FailOnError(const char* function, const char* call, std::uint32_t error);

    const std::string url_;
    const std::string metaUrl_;
    const std::string path_;
    Ptr<IDownloadCallback> callback_;
    DownloadMetaSimple meta_;
    stubframework::platform::fs::FileHandle file_;
    std::size_t block_ = 0;
    std::int64_t current_ = 0;
    std::int64_t total_ = 0;
    bool downloaded_ = false;
    std::int64_t lowestWritten_ = 0;  // of the current download pass
    std::size_t lastBadBlock_ = 0;    // the first bad block after the last download
    int passesAtOneBlock_ = 0;
};

// A new task downloading `url` to `path`, verified with the meta file at
// `metaUrl`; null when an argument is null or memory is short.
ITask* CreateDownloadSimpleTask(const std::string& url, const std::string& metaUrl,
                                const std::string& path, IDownloadCallback* callback,
                                ILogger* logger);

}  // namespace downloader
