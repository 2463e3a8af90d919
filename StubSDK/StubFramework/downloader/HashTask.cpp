#include "downloader/HashTask.h"

#include <memory>
#include <new>

#include "downloader/MetaFile.h"
#include "platform/crypto.h"
#include "platform/thread.h"

namespace downloader {

HashTask::HashTask(stubframework::platform::fs::FileHandle* file, IHashCallback* callback)
    : file_(file), callback_(Ptr<IHashCallback>::Share(callback)) {}

void HashTask::Start() {
    {
        const std::lock_guard<std::mutex> guard(lock_);
        if (state_ != kIdle) {
            return;
        }
        state_ = kRunning;
    }
    AddRef();
    if (!stubframework::platform::QueueWorkItem([this] { Run(); })) {
        End(HashFailed);
    }
}

void HashTask::Cancel() {
    const std::lock_guard<std::mutex> guard(lock_);
    if (state_ == kRunning) {
        state_ = kStopRequested;
    }
}

bool HashTask::StopRequested() {
    const std::lock_guard<std::mutex> guard(lock_);
    return state_ == kStopRequested;
}

void HashTask::Run() {
    const std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[kBlockSize]);
    if (!block) {
        End(HashFailed);
        return;
    }
    for (;;) {
        if (StopRequested()) {
            End(HashStopped);
            return;
        }
        const std::int64_t got = file_->Read(block.get(), kBlockSize);
        if (got < 0) {
            End(HashFailed);
            return;
        }
        if (got == 0) {
            End(HashDone);
            return;
        }
        stubframework::platform::crypto::Sha1Digest digest{};
        if (!stubframework::platform::crypto::Sha1(block.get(), static_cast<std::size_t>(got),
                                                   digest)) {
            End(HashFailed);
            return;
        }
        callback_->OnHash(digest);
    }
}

// Reported outside the lock: the last Release may destroy the task.
void HashTask::End(HashResult result) {
    callback_->OnComplete(result);
    callback_.Reset();
    Release();
}

ITask* CreateHashTask(stubframework::platform::fs::FileHandle* file, IHashCallback* callback) {
    if (file == nullptr || callback == nullptr) {
        return nullptr;
    }
    return details::Create<HashTask>(file, callback);
}

}  // namespace downloader
