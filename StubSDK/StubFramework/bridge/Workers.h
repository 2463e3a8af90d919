// Long operations run on worker threads and report to the page through a
// callback marshalled to the window thread; a companion progress thread
// feeds the same callback every 2 ms while the operation runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "StubFramework.h"
#include "bridge/HtmlExternal.h"
#include "platform/com.h"

namespace stubframework {

class ExternalMethods;

// Shared by a worker and its progress thread, under the worker's lock.
struct ProgressRecord {
    std::int64_t current = 0;
    std::int64_t total = 1;                    // a final call without progress reads (result, 1, 0)
    ErrorHandle state = ErrorHandle::Running;  // anything else is the final result
};

// What a progress thread works with.
struct ProgressWatcher {
    core::HtmlExternal* host = nullptr;
    IDispatch* callback = nullptr;
    ProgressRecord* record = nullptr;
    std::string item;  // the package or URL, for diagnostics
    std::mutex* lock = nullptr;
};

// Parameter blocks, owned by the worker they are handed to.
struct DownloadRequest {
    ExternalMethods* owner = nullptr;
    bool isResume = false;
    bool isSecure = false;
    std::string crc;
    std::string file;
    std::string url;
    platform::com::Ptr<IStream> callback;
};

struct InstallRequest {
    ExternalMethods* owner = nullptr;
    std::int64_t estimatedTime = 0;
    std::string parameters;
    std::string package;
    platform::com::Ptr<IStream> callback;
};

struct CommandRequest {
    ExternalMethods* owner = nullptr;
    std::string first;
    std::string second;
    platform::com::Ptr<IStream> callback;
};

// The page's function called as callback(result, total, current) or
// callback(result); what it returns is ignored.
void CallPage(IDispatch* callback, ErrorHandle result, std::int32_t total, std::int32_t current);
void CallPage(IDispatch* callback, ErrorHandle result);

// Marshals the callback into the request and starts `threadFunc` on a thread
// of its own, which is never joined. On a marshalling failure writes
// `failureLog` followed by the HRESULT in hexadecimal, and returns it.
template <class Request>
HRESULT StartWorker(ExternalMethods& owner, std::unique_ptr<Request> request,
                    const VARIANT& callback, void (*threadFunc)(std::unique_ptr<Request>),
                    const char* failureLog);

// Runs `work` on a thread of its own, never joined, counted among the
// workers so the teardown waits for it before the framework goes.
void StartCountedThread(ExternalMethods& owner, std::function<void()> work);

// The first steps of every worker: join the free apartment and unmarshal the
// callback. Null after writing `failureLog` (when given) followed by the
// HRESULT in hexadecimal.
platform::com::Ptr<IDispatch> WorkerPrologue(ExternalMethods& owner,
                                             platform::com::Ptr<IStream>& stream,
                                             const char* failureLog);

void DownloadProgressThreadFunc(ProgressWatcher* watcher);
void InstallProgressThreadFunc(ProgressWatcher* watcher);

enum class ProgressPair { Download, Install };

// A worker's lock, record, watcher and progress thread.
class ProgressJob {
public:
    ProgressJob(core::HtmlExternal& host, IDispatch* callback, std::string item);
    ~ProgressJob();
    ProgressJob(const ProgressJob&) = delete;
    ProgressJob& operator=(const ProgressJob&) = delete;

    // Starts a progress thread (the previous one must have ended).
    void StartProgress(void (*progressThreadFunc)(ProgressWatcher*));
    void JoinProgress();
    // After a success: waits, polling every 1 ms, until the progress thread
    // has reported the operation complete or has ended.
    void WaitUntilReported();
    // Stores a state now; a final result ends the progress thread's turns.
    void SetState(ErrorHandle state);
    // The final report: under the lock, store the result, reset the progress
    // pair and call the page once; then the progress thread is joined.
    void Complete(ErrorHandle result, ProgressPair pair);

    std::mutex& Lock() { return lock_; }
    ProgressRecord& Record() { return record_; }

private:
    std::mutex lock_;
    ProgressRecord record_;
    ProgressWatcher watcher_;
    std::thread progress_;
    std::atomic<bool> progressRunning_{false};
};

// Joins the free apartment for the life of the object.
class ComApartment {
public:
    ComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

namespace detail {
void LogMarshalFailure(ExternalMethods& owner, const char* failureLog, HRESULT hr);
}  // namespace detail

template <class Request>
HRESULT StartWorker(ExternalMethods& owner, std::unique_ptr<Request> request,
                    const VARIANT& callback, void (*threadFunc)(std::unique_ptr<Request>),
                    const char* failureLog) {
    IStream* stream = nullptr;
    const HRESULT hr =
        CoMarshalInterThreadInterfaceInStream(IID_IDispatch, callback.punkVal, &stream);
    if (FAILED(hr)) {
        detail::LogMarshalFailure(owner, failureLog, hr);
        return hr;
    }
    request->callback = platform::com::Ptr<IStream>::Attach(stream);
    // A std::function copies what it holds: the request travels in a shared box.
    auto box = std::make_shared<std::unique_ptr<Request>>(std::move(request));
    StartCountedThread(owner, [threadFunc, box] { threadFunc(std::move(*box)); });
    return S_OK;
}

}  // namespace stubframework
