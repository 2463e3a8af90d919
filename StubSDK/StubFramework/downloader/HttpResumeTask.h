// An HTTP transfer that resumes a body which ended early: each request asks
// for what has not arrived yet, until everything has, or until a request
// brings nothing at all (asking again would go on forever).
//
// The derived task supplies, beside the CompositeTask hooks LogStart and
// Report and the HttpTask events OnHttpHeader and OnData:
//   HttpRange NextRange();   what the next request asks for
//   bool Done() const;       everything has arrived
//   void LogShort();         its "Data not complete ..." line
#pragma once

#include <string>

#include "downloader/CompositeTask.h"
#include "downloader/ForwardingCallbacks.h"
#include "downloader/HttpTask.h"
#include "downloader/Object.h"

namespace downloader {

template <class Derived>
class HttpResumeTask : public CompositeTask<Derived> {
public:
    // The first request.
    bool Begin() {
        if (StartHttp()) {
            return true;
        }
        this->Finish(kOutOfMemory);
        return false;
    }

    // The end of the current request.
    void OnHttpComplete(Result result) {
        const Ptr<ITask> alive = this->KeepAlive();
        if (this->Enter()) {
            if (result == kSuccess && !Self().Done()) {
                Self().LogShort();
                if (delivered_ == 0) {
                    this->Logger().Log(this->LogName("OnComplete").c_str(),
                                       "No data in the answer.");
                    result = kInvalidServerResponse;
                } else if (StartHttp()) {
                    this->Leave();
                    return;
                } else {
                    result = kOutOfMemory;
                }
            }
            this->Finish(result);
        }
        this->ReportEnd();
    }

protected:
    HttpResumeTask(const char* name, std::string url, ILogger* logger)
        : CompositeTask<Derived>(name, kHttpCancelled, logger), url_(std::move(url)) {}
    ~HttpResumeTask() = default;

    const std::string& Url() const { return url_; }
    // Bytes the current request delivered.
    void CountDelivered(std::int64_t bytes) { delivered_ += bytes; }

private:
    using Events = details::ForwardHttp<Derived>;

    Derived& Self() { return static_cast<Derived&>(*this); }

    bool StartHttp() {
        delivered_ = 0;
        const std::string name = this->LogName("StartHttp");
        const Ptr<Events> events = Ptr<Events>::Attach(details::Create<Events>(&Self()));
        if (!events) {
            this->Logger().Log(name.c_str(), "Create HttpCallback failed.");
            return false;
        }
        ITask* const task = CreateHttpTask(url_, Self().NextRange(), events.Get(), &this->Logger());
        if (task == nullptr) {
            this->Logger().Log(name.c_str(), "Create HttpTask failed.");
            return false;
        }
        this->StartSubTask(task);
        return true;
    }

    const std::string url_;
    std::int64_t delivered_ = 0;
};

}  // namespace downloader
