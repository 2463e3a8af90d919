// Recording ends of the download engine's callbacks, for the engine tests:
// every event is counted, and the end can be waited for.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/PrintfFormat.h"
#include "downloader/Object.h"
#include "downloader/TaskModel.h"
#include "platform/thread.h"
#include "support/TestFolder.h"

namespace stubtest {

// Keeps every log line as "function> message".
class RecordingLogger : public downloader::ILogger {
public:
    void Log(const char* function, const char* format, ...) override STUB_PRINTF_FORMAT(3, 4) {
        char message[1024];
        std::va_list arguments;
        va_start(arguments, format);
        std::vsnprintf(message, sizeof message, format, arguments);
        va_end(arguments);
        const std::lock_guard<std::mutex> guard(lock_);
        lines_.push_back(std::string(function) + "> " + message);
    }
    std::vector<std::string> Lines() {
        const std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }
    bool Has(const std::string& line) {
        for (const std::string& seen : Lines()) {
            if (seen == line) {
                return true;
            }
        }
        return false;
    }
    // A line holding `text` somewhere.
    bool HasPart(const std::string& text) {
        for (const std::string& seen : Lines()) {
            if (seen.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

protected:
    ~RecordingLogger() = default;

private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

// The end of a task: counted, with its result, waitable.
template <class Base>
class Ending : public Base {
public:
    // True when the end came within the time.
    bool WaitEnd(std::uint32_t ms = kNoTimeLimitMs) { return done_.Wait(ms); }
    int Ends() {
        const std::lock_guard<std::mutex> guard(lock_);
        return ends_;
    }

protected:
    ~Ending() = default;
    void RecordEnd() {
        {
            const std::lock_guard<std::mutex> guard(lock_);
            ++ends_;
        }
        done_.Set();
    }
    std::mutex lock_;

private:
    stubframework::platform::Event done_{true};
    int ends_ = 0;
};

class RecordingHttp : public Ending<downloader::IHttpCallback> {
public:
    void OnHttpHeader(const downloader::HttpHeader& header) override {
        const std::lock_guard<std::mutex> guard(lock_);
        headers.push_back(header);
    }
    void OnData(const downloader::Buffer& data) override {
        const std::lock_guard<std::mutex> guard(lock_);
        body.append(reinterpret_cast<const char*>(data.Data()), data.Size());
        ++pieces;
    }
    void OnComplete(downloader::Result hr) override {
        result = hr;
        RecordEnd();
    }

    std::size_t DataSize() {
        const std::lock_guard<std::mutex> guard(lock_);
        return body.size();
    }

    std::vector<downloader::HttpHeader> headers;
    std::string body;
    int pieces = 0;
    downloader::Result result = 1;

protected:
    ~RecordingHttp() = default;
};

class RecordingMem : public Ending<downloader::ITaskCallback<downloader::HttpToMemResult&&>> {
public:
    void OnComplete(downloader::HttpToMemResult&& end) override {
        result = end.hr;
        body.assign(reinterpret_cast<const char*>(end.buffer.Data()), end.buffer.Size());
        RecordEnd();
    }
    std::string body;
    downloader::Result result = 1;

protected:
    ~RecordingMem() = default;
};

class RecordingFile : public Ending<downloader::IHttpToFileCallback> {
public:
    void OnWritten(std::int64_t offset, std::int64_t size) override {
        const std::lock_guard<std::mutex> guard(lock_);
        written.emplace_back(offset, size);
    }
    void OnComplete(downloader::Result hr) override {
        result = hr;
        RecordEnd();
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> written;
    downloader::Result result = 1;

protected:
    ~RecordingFile() = default;
};

// Progress of a verified download; can run a function at a progress point.
class RecordingDownload : public Ending<downloader::IDownloadCallback> {
public:
    void OnProgress(std::int64_t current, std::int64_t total) override {
        std::function<void()> action;
        {
            const std::lock_guard<std::mutex> guard(lock_);
            progress.emplace_back(current, total);
            if (onProgress && current >= actionAt) {
                action = std::move(onProgress);
                onProgress = nullptr;
            }
        }
        if (action) {
            action();
        }
    }
    void OnComplete(downloader::Result hr) override {
        result = hr;
        RecordEnd();
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> Progress() {
        const std::lock_guard<std::mutex> guard(lock_);
        return progress;
    }
    // Runs `action` once, at the first progress report at or past `at`.
    void At(std::int64_t at, std::function<void()> action) {
        const std::lock_guard<std::mutex> guard(lock_);
        actionAt = at;
        onProgress = std::move(action);
    }

    downloader::Result result = 1;

protected:
    ~RecordingDownload() = default;

private:
    std::vector<std::pair<std::int64_t, std::int64_t>> progress;
    std::function<void()> onProgress;
    std::int64_t actionAt = 0;
};

}  // namespace stubtest
