// The callback objects a task gives its sub-tasks: each holds a plain
// pointer to its task and forwards every event to the task's handler of the
// same role. The task outlives them because it holds itself while it runs.
#pragma once

#include "downloader/Object.h"
#include "downloader/TaskModel.h"

namespace downloader::details {

// Events of an HttpTask: OnHttpHeader, OnData, then OnHttpComplete.
template <class Task>
class ForwardHttp : public IHttpCallback {
public:
    explicit ForwardHttp(Task* task) : task_(task) {}
    void OnHttpHeader(const HttpHeader& header) override { task_->OnHttpHeader(header); }
    void OnData(const Buffer& data) override { task_->OnData(data); }
    void OnComplete(Result result) override { task_->OnHttpComplete(result); }

protected:
    ~ForwardHttp() = default;

private:
    Task* const task_;
};

}  // namespace downloader::details
