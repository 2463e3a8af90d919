// Callback events of the pages, per page load ("session"). Sessions are
// handed out by the hub, one per document served; a newer page that
// connects makes the older ones gone (their events are dropped). A progress
// report replaces the one of the same callback still waiting, so a page that
// is slower than its workers gets the newest figures, not a backlog; past the
// cap the oldest events go. A stream sends the next batch once the page has
// taken the last one (or it has waited too long for that); a batch of
// progress reports alone waits for the pace as well.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace stubframework::platform::posix {

class EventHub {
public:
    static constexpr std::size_t kMaxQueued = 1024;
    // A page that has not said it took a batch within this time gets the
    // next one anyway: it may be a page that never says so.
    static constexpr std::chrono::seconds kTakeWait{5};
    // Batches of progress reports alone go at most this often: a bar needs no
    // more, and a page kept redrawing takes the processor from the work it shows.
    static constexpr std::chrono::milliseconds kProgressPace{50};

    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    explicit EventHub(Clock clock = &std::chrono::steady_clock::now) : clock_(std::move(clock)) {}

    // A new session, for a document about to be served.
    unsigned Issue();
    // A session handed out by this hub (0 never is).
    bool Issued(unsigned session) const;

    // `callback` and `progress` let a newer progress report of the same
    // callback take the place of one still queued.
    void Push(unsigned session, std::int64_t callback, bool progress, std::string data);
    void Connect(unsigned session);
    // Waits for the session's events, and for the page to have taken the
    // previous batch, as one server-sent event holding a JSON array. The
    // batch stays empty when the wait ends first. False when the session
    // is over.
    bool Next(unsigned session, std::string& batch, std::chrono::milliseconds wait);
    // The page has delivered the batch `Next` gave it.
    void Taken(unsigned session);
    // The queued events of the connected session, without waiting. When
    // they wait for the pace, none are taken and `again` says for how long.
    std::vector<std::string> TakeCurrent(std::chrono::milliseconds* again = nullptr);
    // Called (on the pushing thread) after every push: a pump that is not a
    // waiting stream learns there is something to take.
    void SetWaker(std::function<void()> waker);
    void Close();

    std::size_t Queued(unsigned session) const;

private:
    struct Event {
        std::int64_t callback;
        bool progress;
        std::string data;
    };

    using TimePoint = std::chrono::steady_clock::time_point;
    // When the session's queue may go as a batch: now, or once the pace has
    // passed when it holds progress reports alone. Max when it is empty.
    TimePoint ReadyAt(unsigned session) const;

    const Clock clock_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::map<unsigned, std::deque<Event>> queues_;
    // Sessions whose last batch the page has not taken yet, and since when.
    std::map<unsigned, TimePoint> sent_;
    // When each session's last batch went.
    std::map<unsigned, TimePoint> lastBatch_;
    std::function<void()> waker_;
    unsigned issued_ = 0;
    unsigned current_ = 0;
    bool closed_ = false;
};

}  // namespace stubframework::platform::posix
