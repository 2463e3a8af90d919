// The page's side of window.external on the native side: callback events
// queued per page load, and the dispatch of one request of a page.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/com.h"
#include "platform/window.h"

namespace stubframework::platform::posix {

// Callback events of the pages, per page load ("session"). A newer page that
// connects makes the older ones gone: their events are dropped.
class EventHub {
public:
    void Push(unsigned session, std::string data) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (closed_ || session < current_) {
                return;
            }
            queues_[session].push_back(std::move(data));
        }
        wake_.notify_all();
    }

    void Connect(unsigned session) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (session > current_) {
                current_ = session;
                queues_.erase(queues_.begin(), queues_.lower_bound(current_));
            }
        }
        wake_.notify_all();
    }

    // Waits for the session's events. False when the session is over.
    bool Next(unsigned session, std::string& batch, std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto over = [&] { return closed_ || session < current_; };
        wake_.wait_for(lock, wait, [&] { return over() || !queues_[session].empty(); });
        if (over()) {
            return false;
        }
        for (std::string& event : queues_[session]) {
            batch += "data: " + event + "\n\n";
        }
        queues_[session].clear();
        return true;
    }

    void Close() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
            queues_.clear();
        }
        wake_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<unsigned, std::deque<std::string>> queues_;
    unsigned current_ = 0;
    bool closed_ = false;
};

// Runs on the window thread: one JSON request of a page ("call", "get",
// "set", "delete", "has", "documentComplete") against window.external, and
// the JSON reply. Malformed requests set `badRequest` and do nothing.
std::string DispatchBridgeMessage(const std::string& body, IDispatchEx& external,
                                  window::HostEvents& events, const std::shared_ptr<EventHub>& hub,
                                  bool& badRequest);

}  // namespace stubframework::platform::posix
