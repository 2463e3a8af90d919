#include "platform/posix/host/HttpRequestReader.h"

#include <algorithm>
#include <cctype>

namespace stubframework::platform::posix {
namespace {

bool SameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsTokenChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isalnum(u) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// A Content-Length: digits only, no sign, no list.
std::optional<std::size_t> ParseLength(std::string_view text) {
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value;
}

}  // namespace

std::optional<std::string> HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (SameLetters(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::string HttpRequest::Param(std::string_view name) const {
    std::string_view rest = query;
    while (!rest.empty()) {
        const std::size_t amp = rest.find('&');
        const std::string_view pair = rest.substr(0, amp);
        const std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name) {
            return equals == std::string_view::npos ? std::string()
                                                    : std::string(pair.substr(equals + 1));
        }
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    }
    return {};
}

HttpRequestReader::State HttpRequestReader::Refuse(int status, std::string reason) {
    refusalStatus_ = status;
    refusalReason_ = std::move(reason);
    return State::kRefused;
}

HttpRequestReader::State HttpRequestReader::Feed(std::string_view bytes) {
    if (refusalStatus_ != 0) {
        return State::kRefused;
    }
    // Bounded: the caller feeds what one read brought, and a head that has
    // not ended within the limit is refused.
    buffer_.append(bytes);
    const std::size_t end = buffer_.find("\r\n\r\n");
    if (end == std::string::npos || end + 4 > kMaxHead) {
        if (buffer_.size() > kMaxHead || end != std::string::npos) {
            return Refuse(431, "request head larger than " + std::to_string(kMaxHead) + " bytes");
        }
        return State::kNeedMore;
    }
    leftover_ = buffer_.substr(end + 4);
    buffer_.resize(end);
    return ParseHead(buffer_);
}

bool HttpRequestReader::ParseRequestLine(std::string_view line) {
    const std::size_t first = line.find(' ');
    const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos) {
        return false;
    }
    const std::string_view method = line.substr(0, first);
    const std::string_view target = line.substr(first + 1, second - first - 1);
    const std::string_view version = line.substr(second + 1);
    if ((method != "GET" && method != "POST" && method != "HEAD") || target.empty() ||
        target.front() != '/' || (version != "HTTP/1.1" && version != "HTTP/1.0")) {
        return false;
    }
    for (const char c : target) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7F) {
            return false;
        }
    }
    request_.method = std::string(method);
    request_.target = std::string(target);
    const std::size_t question = target.find('?');
    request_.path = std::string(target.substr(0, question));
    request_.query = question == std::string_view::npos ? std::string()
                                                        : std::string(target.substr(question + 1));
    request_.keepAlive = version == "HTTP/1.1";
    return true;
}

HttpRequestReader::State HttpRequestReader::ParseHead(std::string_view head) {
    std::size_t lineEnd = head.find("\r\n");
    if (!ParseRequestLine(head.substr(0, lineEnd))) {
        return Refuse(400, "malformed request line");
    }
    bool hasLength = false;
    while (lineEnd != std::string_view::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string_view line = head.substr(start, lineEnd - start);
        if (line.empty() || line.front() == ' ' || line.front() == '\t') {
            return Refuse(400, "malformed header line");
        }
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 ||
            !std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                         IsTokenChar)) {
            return Refuse(400, "malformed header line");
        }
        if (line.find('\0') != std::string_view::npos) {
            return Refuse(400, "a header holds a NUL byte");
        }
        if (request_.headers.size() == kMaxHeaders) {
            return Refuse(431, "more than " + std::to_string(kMaxHeaders) + " headers");
        }
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = Trim(line.substr(colon + 1));
        if (SameLetters(name, "Transfer-Encoding")) {
            return Refuse(501, "Transfer-Encoding is not accepted");
        }
        if (SameLetters(name, "Content-Length")) {
            const std::optional<std::size_t> length = ParseLength(value);
            if (!length || hasLength) {
                return Refuse(400, "unusable Content-Length");
            }
            if (*length > maxBody_) {
                return Refuse(413, "a body of " + std::to_string(*length) + " bytes");
            }
            hasLength = true;
            request_.contentLength = *length;
        }
        if (SameLetters(name, "Connection") && SameLetters(value, "close")) {
            request_.keepAlive = false;
        }
        request_.headers.emplace_back(name, value);
    }
    return State::kHeadDone;
}

}  // namespace stubframework::platform::posix
