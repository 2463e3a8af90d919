// Where the product's analytics events go: the tracker, or until it exists
// the log.
#pragma once

#include <memory>
#include <string>

namespace stubframework::debug {
class InstallerLog;
}

namespace myexternalmethods {

class TrackerSender {
public:
    virtual ~TrackerSender() = default;
    // Hands over one event with its property text; returns at once.
    virtual void Send(const std::string& event, const std::string& properties) = 0;
};

// Writes each event to the log and sends nothing.
std::unique_ptr<TrackerSender> MakeLoggingSender(stubframework::debug::InstallerLog* log);

}  // namespace myexternalmethods
