// Takes the product's analytics events in place of the tracker and keeps them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "TrackerSender.h"

namespace stubtest {

using SentEvents = std::vector<std::pair<std::string, std::string>>;

class RecordingSender final : public myexternalmethods::TrackerSender {
public:
    explicit RecordingSender(SentEvents& sent) : sent_(sent) {}
    int Send(const std::string& event, const std::string& properties) override {
        sent_.emplace_back(event, properties);
        return 0;
    }

private:
    SentEvents& sent_;
};

}  // namespace stubtest
