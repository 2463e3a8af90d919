// The product's layer over the framework's method table: the framework's
// methods, then the product's own rows (ProductMethods).
#pragma once

#include <memory>

#include "TrackerSender.h"
#include "TrackingProperties.h"

#include "bridge/ExternalMethods.h"

namespace stubframework {
class StubFramework;
}

namespace myexternalmethods {

class MyExternalMethods : public stubframework::ExternalMethods {
public:
    // Registers the product's methods after the framework's.
    explicit MyExternalMethods(stubframework::StubFramework& framework);
    ~MyExternalMethods() override;

    // Written and read on the window thread only.
    TrackingProperties& Tracking() { return tracking_; }
    TrackerSender& Sender() { return *sender_; }
    void SetSender(std::unique_ptr<TrackerSender> sender) { sender_ = std::move(sender); }

private:
    TrackingProperties tracking_;
    std::unique_ptr<TrackerSender> sender_;
};

}  // namespace myexternalmethods
