#include "TrackerSender.h"

#include "core/InstallerLog.h"

namespace myexternalmethods {
namespace {

class LoggingSender final : public TrackerSender {
public:
    explicit LoggingSender(stubframework::debug::InstallerLog* log) : log_(log) {}
    void Send(const std::string& event, const std::string& properties) override {
        stubframework::debug::LogDebugMessage(log_, "Tracking event %s: %s", event.c_str(),
                                              properties.c_str());
    }

private:
    stubframework::debug::InstallerLog* log_;
};

}  // namespace

std::unique_ptr<TrackerSender> MakeLoggingSender(stubframework::debug::InstallerLog* log) {
    return std::make_unique<LoggingSender>(log);
}

}  // namespace myexternalmethods
