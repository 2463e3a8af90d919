// The product-analytics tracker: events become trackData texts in a queue,
// and a track thread hands them one by one to the tracker page's trackEvent,
// counting the page's "eventTracked" answers. Released at the end with a
// bounded wait: the thread gets 5 s after the exit signal to deliver what is
// queued and collect the answers, and never outlives what it uses.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "TrackData.h"
#include "TrackerSender.h"

namespace myexternalmethods {

class Tracker final : public TrackerSender {
public:
    // Answers of Initialize and TrackEvent.
    static constexpr int kDone = 0;
    static constexpr int kAlreadyInitialised = 1;
    static constexpr int kNoThread = 101;
    static constexpr int kNotInitialised = 200;
    static constexpr int kRefused = 201;

    Tracker();
    ~Tracker() override;
    Tracker(const Tracker&) = delete;
    Tracker& operator=(const Tracker&) = delete;

    // Takes the core data, fills the machine's fields and applies the
    // settings file's text.
    int Initialize(const TrackerCoreData& data, std::string_view configText);
    int TrackEvent(const std::string& event, const std::string& properties);
    int Send(const std::string& event, const std::string& properties) override {
        return TrackEvent(event, properties);
    }
    // Lets the track thread deliver for up to `ms` before the exit goes on;
    // at once when there is no page to deliver to.
    void Linger(std::uint32_t ms);
    void Release();

    TrackerSettings Settings() const;

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

// The machine's fields of the core data (operating system, processor,
// memory), as this system reports them.
void FillMachineFields(TrackerCoreData& data);

}  // namespace myexternalmethods
