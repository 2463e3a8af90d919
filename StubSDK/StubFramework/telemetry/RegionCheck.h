// Whether the user's region is under embargo, as the web service answers.
#pragma once

#include <string>
#include <string_view>

namespace stubframework::core {

class FrameworkCore;

struct RegionAnswer {
    std::string country;
    std::string embargo;  // the flag's text as the reply holds it
    // Exactly "true": anything else (no reply included) lets the user on.
    bool Embargoed() const { return embargo == "true"; }
};

// The text between <name> and the first </name> after it; "" when either is missing.
std::string ElementText(std::string_view reply, std::string_view name);

RegionAnswer ReadRegionReply(std::string_view reply);

// Asks the service (blocking); an empty answer when it cannot be asked.
RegionAnswer CheckRegion(FrameworkCore& core);

}  // namespace stubframework::core
