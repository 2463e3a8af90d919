// What every task built of sub-tasks shares: the state word, the one current
// sub-task (kept until the next replaces it, so a late Interrupt can still
// cancel it), a reference on itself from Start until its end is reported,
// Cancel, Interrupt and the end report.
//
// The derived task supplies (found through CRTP):
//   void LogStart();               its "Start ..." line
//   bool Begin();                  the first step; false after Finish when it failed
//   void Report(Result result);    its end report to its caller
#pragma once

#include <string>

#include "downloader/TaskLock.h"
#include "downloader/TaskModel.h"

namespace downloader {

template <class Derived>
class CompositeTask : public ITask, public TaskLock<Derived> {
public:
    void Start() final {
        const Ptr<ITask> alive = KeepAlive();
        if (!this->StartEntry()) {
            return;
        }
        Self().LogStart();
        AddRef();  // dropped when the end is reported
        if (Self().Begin()) {
            this->Leave();
            return;
        }
        ReportEnd();
    }

    void Cancel() final {
        logger_->Log((name_ + "::Cancel").c_str(), "Cancel.");
        this->Finish(cancelled_);
    }

    // Called once the last hold has gone after the task began to finish.
    void Interrupt() {
        if (subTask_) {
            subTask_->Cancel();
        }
    }

protected:
    // `name` prefixes the log lines ("Name::Cancel"); `cancelled` is the
    // result of a Cancel.
    CompositeTask(const char* name, Result cancelled, ILogger* logger)
        : name_(name), cancelled_(cancelled), logger_(Ptr<ILogger>::Share(logger)) {}
    ~CompositeTask() = default;

    // A reference for the length of a call that may report the end: the end
    // may drop every other reference while the call still has work to do (a
    // sub-task failing inside its own Start reports straight back through
    // the whole chain).
    Ptr<ITask> KeepAlive() { return Ptr<ITask>::Share(this); }

    // Makes `task` (a new reference) the current sub-task and starts it.
    void StartSubTask(ITask* task) {
        subTask_ = Ptr<ITask>::Attach(task);
        task->Start();
    }
    ITask* SubTask() const { return subTask_.Get(); }

    // The derived task's report, then the reference taken by Start goes.
    void ReportEnd() {
        Self().Report(this->TaskResult());
        Release();
    }

    std::string LogName(const char* method) const { return name_ + "::" + method; }
    ILogger& Logger() const { return *logger_; }

private:
    Derived& Self() { return static_cast<Derived&>(*this); }

    const std::string name_;
    const Result cancelled_;
    const Ptr<ILogger> logger_;
    Ptr<ITask> subTask_;
};

}  // namespace downloader
