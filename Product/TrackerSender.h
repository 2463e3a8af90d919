// Where the product's analytics events go: the tracker (or, in tests,
// whatever records them).
#pragma once

#include <string>

namespace myexternalmethods {

class TrackerSender {
public:
    virtual ~TrackerSender() = default;
    // Hands over one event with its property text and returns at once: 0
    // when it was taken, otherwise the tracker's refusal.
    virtual int Send(const std::string& event, const std::string& properties) = 0;
};

}  // namespace myexternalmethods
