// The product's layer over the framework's method table: the framework's
// methods, then the product's own rows (ProductMethods), and the product's
// analytics tracker.
#pragma once

#include <memory>

#include "Tracker.h"
#include "TrackerSender.h"
#include "TrackingProperties.h"

#include "bridge/ExternalMethods.h"

namespace stubframework {
class StubFramework;
}

namespace myexternalmethods {

class MyExternalMethods : public stubframework::ExternalMethods {
public:
    // Fills the start values, starts the tracker and registers the product's
    // methods after the framework's.
    explicit MyExternalMethods(stubframework::StubFramework& framework);
    // Stops the tracker, waiting a bounded time for its thread.
    ~MyExternalMethods() override;

    // Written and read on the window thread only.
    TrackingProperties& Tracking() { return tracking_; }
    TrackerSender& Sender() { return sender_ ? *sender_ : tracker_; }
    // Events go to `sender` instead of the tracker.
    void SetSender(std::unique_ptr<TrackerSender> sender) { sender_ = std::move(sender); }

    // Sends an event the way a page's call does, logging it; the page's
    // "install.completed" is remembered, so the run's end adds no second one.
    void SendEvent(const std::string& event, const std::string& properties);
    // The run's end: "install.completed" unless the page sent it, with the
    // outcome it implies, then a moment for the tracker to deliver it.
    void SendFinalEvent(bool endedByException);

private:
    TrackingProperties tracking_;
    Tracker tracker_;
    std::unique_ptr<TrackerSender> sender_;
    bool completionSent_ = false;
};

}  // namespace myexternalmethods
