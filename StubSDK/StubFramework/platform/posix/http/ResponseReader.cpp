#include "platform/posix/http/ResponseReader.h"

namespace stubframework::platform::http {
namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// The three-digit code of "HTTP/x.y CODE reason"; -1 when there is none.
int StatusCode(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) {
        return -1;
    }
    int status = 0;
    for (std::size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9') {
            return -1;
        }
        status = status * 10 + (line[i] - '0');
    }
    return status >= 100 ? status : -1;
}

bool IsRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

ResponseReader::Step ResponseReader::Read(std::string_view line) {
    if (done_) {
        return Step::kNone;  // trailers after a chunked body
    }
    if (line.substr(0, 5) == "HTTP/") {
        response_ = Response{};
        response_.status = StatusCode(line);
        return Step::kNone;
    }
    const std::string_view text = Trim(line);
    if (text.empty()) {
        const int status = response_.status;
        if (status >= 100 && status < 200) {
            return Step::kIntermediate;
        }
        if (IsRedirect(status) && response_.Header("Location")) {
            return Step::kRedirect;
        }
        done_ = true;
        return Step::kFinal;
    }
    if ((line.front() == ' ' || line.front() == '\t') && !response_.headers.empty()) {
        response_.headers.back().second.append(" ").append(text);  // folded continuation
        return Step::kNone;
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        response_.headers.emplace_back(std::string(text.substr(0, colon)),
                                       std::string(Trim(text.substr(colon + 1))));
    }
    return Step::kNone;
}

}  // namespace stubframework::platform::http
