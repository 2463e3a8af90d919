#include <chrono>
#include <deque>
#include <thread>
#include <vector>

#include "platform/thread.h"

namespace stubframework::platform {

namespace {

// A fixed set of threads draining one queue. Items still queued when the
// process ends are run before the threads are joined.
class ThreadPool {
public:
    ThreadPool() {
        const unsigned count = std::max(2u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < count; ++i) {
            threads_.emplace_back([this] { Drain(); });
        }
    }

    ~ThreadPool() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (auto& thread : threads_) {
            thread.join();
        }
    }

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    bool Queue(std::function<void()> work) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            return false;
        }
        queue_.push_back(std::move(work));
        // Woken under the lock: once it is released the item may be done and
        // the process ending, the pool with it.
        wake_.notify_one();
        return true;
    }

private:
    void Drain() {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) {
                    return;
                }
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            // A pool thread is a thread entry point: nothing may escape it.
            try {
                work();
            } catch (...) {
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    bool stopping_ = false;
};

}  // namespace

bool QueueWorkItem(std::function<void()> work) {
    static ThreadPool pool;
    return pool.Queue(std::move(work));
}

}  // namespace stubframework::platform
