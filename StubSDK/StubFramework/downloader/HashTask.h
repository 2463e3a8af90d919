// Hashes a file block by block on a pool thread: OnHash for each 1 MiB block
// from the file's current position, then one OnComplete.
#pragma once

#include <mutex>

#include "downloader/Object.h"
#include "downloader/TaskModel.h"
#include "platform/fs.h"

namespace downloader {

class HashTask : public ITask {
public:
    // `file` is not owned and must outlive the task's end.
    HashTask(stubframework::platform::fs::FileHandle* file, IHashCallback* callback);

    // A second Start does nothing.
    void Start() override;
    // Stops the task before its next block; no effect when it is idle.
    void Cancel() override;

protected:
    ~HashTask() = default;

private:
    enum State : std::int32_t { kIdle = 0, kRunning = 1, kStopRequested = 2 };

    void Run();
    void End(HashResult result);
    bool StopRequested();

    stubframework::platform::fs::FileHandle* const file_;
    Ptr<IHashCallback> callback_;
    std::mutex lock_;
    std::int32_t state_ = kIdle;
};

// A new task with one reference, holding a reference on `callback`; null
// when an argument is null or memory is short.
ITask* CreateHashTask(stubframework::platform::fs::FileHandle* file, IHashCallback* callback);

}  // namespace downloader
