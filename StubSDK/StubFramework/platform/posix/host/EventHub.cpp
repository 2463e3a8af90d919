#include "platform/posix/host/EventHub.h"

#include <algorithm>

namespace stubframework::platform::posix {

unsigned EventHub::Issue() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return ++issued_;
}

bool EventHub::Issued(unsigned session) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return session != 0 && session <= issued_;
}

void EventHub::Push(unsigned session, std::int64_t callback, bool progress, std::string data) {
    std::function<void()> waker;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (closed_ || session < current_ || session == 0 || session > issued_) {
            return;
        }
        std::deque<Event>& queue = queues_[session];
        if (progress) {
            // The callback's last event, when it is a progress report, takes
            // the newer figures: nothing of that callback follows it.
            const auto last =
                std::find_if(queue.rbegin(), queue.rend(),
                             [callback](const Event& e) { return e.callback == callback; });
            if (last != queue.rend() && last->progress) {
                last->data = std::move(data);
                return;
            }
        }
        if (queue.size() >= kMaxQueued) {
            const auto oldestProgress =
                std::find_if(queue.begin(), queue.end(), [](const Event& e) { return e.progress; });
            queue.erase(oldestProgress != queue.end() ? oldestProgress : queue.begin());
        }
        queue.push_back(Event{callback, progress, std::move(data)});
        waker = waker_;
    }
    wake_.notify_all();
    if (waker) {
        waker();
    }
}

void EventHub::Connect(unsigned session) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (session > current_ && session <= issued_) {
            current_ = session;
            queues_.erase(queues_.begin(), queues_.lower_bound(current_));
            sent_.erase(sent_.begin(), sent_.lower_bound(current_));
            lastBatch_.erase(lastBatch_.begin(), lastBatch_.lower_bound(current_));
        }
    }
    wake_.notify_all();
}

EventHub::TimePoint EventHub::ReadyAt(unsigned session) const {
    const auto queue = queues_.find(session);
    if (queue == queues_.end() || queue->second.empty()) {
        return TimePoint::max();
    }
    const auto last = lastBatch_.find(session);
    const bool progressOnly = std::all_of(queue->second.begin(), queue->second.end(),
                                          [](const Event& e) { return e.progress; });
    if (!progressOnly || last == lastBatch_.end()) {
        return TimePoint::min();
    }
    return last->second + kProgressPace;
}

bool EventHub::Next(unsigned session, std::string& batch, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto deadline = clock_() + wait;
    for (;;) {
        if (closed_ || session < current_) {
            return false;
        }
        const auto now = clock_();
        const auto sent = sent_.find(session);
        if (sent != sent_.end() && now >= sent->second + kTakeWait) {
            sent_.erase(sent);  // the page never said: go on without it
            continue;
        }
        // While the page is busy with the last batch, or the pace holds
        // progress back, newer progress reports replace older ones.
        const bool busy = sent != sent_.end();
        const TimePoint ready = busy ? sent->second + kTakeWait : ReadyAt(session);
        if (!busy && now >= ready) {
            break;
        }
        if (now >= deadline) {
            return true;
        }
        wake_.wait_for(lock, std::min(deadline, ready) - now);
    }
    std::deque<Event>& queue = queues_[session];
    batch += "data: [";
    for (const Event& event : queue) {
        batch += event.data;
        batch += ',';
    }
    batch.back() = ']';
    batch += "\n\n";
    queue.clear();
    sent_[session] = lastBatch_[session] = clock_();
    return true;
}

void EventHub::Taken(unsigned session) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        sent_.erase(session);
    }
    wake_.notify_all();
}

std::vector<std::string> EventHub::TakeCurrent(std::chrono::milliseconds* again) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> events;
    if (again != nullptr) {
        *again = std::chrono::milliseconds(0);
    }
    const TimePoint ready = ReadyAt(current_);
    if (closed_ || ready == TimePoint::max()) {
        return events;
    }
    const auto now = clock_();
    if (now < ready) {
        if (again != nullptr) {
            *again = std::chrono::ceil<std::chrono::milliseconds>(ready - now);
        }
        return events;
    }
    std::deque<Event>& queue = queues_[current_];
    for (Event& event : queue) {
        events.push_back(std::move(event.data));
    }
    queue.clear();
    lastBatch_[current_] = now;
    return events;
}

void EventHub::SetWaker(std::function<void()> waker) {
    const std::lock_guard<std::mutex> lock(mutex_);
    waker_ = std::move(waker);
}

void EventHub::Close() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        queues_.clear();
        sent_.clear();
        lastBatch_.clear();
        waker_ = nullptr;
    }
    wake_.notify_all();
}

std::size_t EventHub::Queued(unsigned session) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto queue = queues_.find(session);
    return queue != queues_.end() ? queue->second.size() : 0;
}

}  // namespace stubframework::platform::posix
