// Reads the header lines of HTTP responses as the transfer hands them over,
// one response after another (interim, redirects, then the final one).
#pragma once

#include <string_view>

#include "platform/http.h"

namespace stubframework::platform::http {

class ResponseReader {
public:
    enum class Step {
        kNone,          // a line of a header in progress
        kIntermediate,  // a 1xx header ended
        kRedirect,      // a redirect with a Location ended; the transfer follows it
        kFinal,         // the final header ended; later lines are trailers
    };

    // One header line, with or without its line end.
    Step Read(std::string_view line);
    const Response& Current() const { return response_; }
    bool Done() const { return done_; }

private:
    Response response_;
    bool done_ = false;
};

}  // namespace stubframework::platform::http
