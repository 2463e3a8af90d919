// Reads one HTTP/1.1 request head from bytes as they arrive, strictly: a
// request line of a known method, headers of token names, no folded lines,
// a size limit, and a body only with a single Content-Length within a cap
// (no Transfer-Encoding at all). What it refuses gets a status and a reason.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace stubframework::platform::posix {

struct HttpRequest {
    std::string method;
    std::string target;  // as sent: path and query
    std::string path;    // the target up to '?'
    std::string query;   // after '?', undecoded
    std::vector<std::pair<std::string, std::string>> headers;
    std::size_t contentLength = 0;
    bool keepAlive = true;
    std::string body;

    // The first header of that name (case-insensitive).
    std::optional<std::string> Header(std::string_view name) const;
    // The value of a query parameter (undecoded); empty when absent.
    std::string Param(std::string_view name) const;
};

class HttpRequestReader {
public:
    static constexpr std::size_t kMaxHead = std::size_t{16} * 1024;
    static constexpr std::size_t kMaxHeaders = 64;

    enum class State { kNeedMore, kHeadDone, kRefused };

    explicit HttpRequestReader(std::size_t maxBody) : maxBody_(maxBody) {}

    // Adds bytes; once the head is done, `Request()` holds it and the bytes
    // after the head are the start of the body (`Leftover()`).
    State Feed(std::string_view bytes);
    const HttpRequest& Request() const { return request_; }
    HttpRequest& Request() { return request_; }
    std::string TakeLeftover() { return std::move(leftover_); }
    int RefusalStatus() const { return refusalStatus_; }
    const std::string& RefusalReason() const { return refusalReason_; }

private:
    State Refuse(int status, std::string reason);
    State ParseHead(std::string_view head);
    bool ParseRequestLine(std::string_view line);

    const std::size_t maxBody_;
    std::string buffer_;
    std::string leftover_;
    HttpRequest request_;
    int refusalStatus_ = 0;
    std::string refusalReason_;
};

}  // namespace stubframework::platform::posix
