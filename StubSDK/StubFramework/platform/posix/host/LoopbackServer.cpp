#include "platform/posix/host/LoopbackServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/posix/host/SocketOwner.h"

namespace stubframework::platform::posix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadChunk = std::size_t{16} * 1024;
constexpr auto kLinger = std::chrono::seconds(1);
constexpr std::size_t kMaxLingerBytes = 4 << 20;

// Milliseconds left until `deadline`, at least 0.
int MillisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until the deadline; false on time-out or error.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd wanted{fd, events, 0};
        const int ready = poll(&wanted, 1, MillisecondsUntil(deadline));
        if (ready > 0) {
            return (wanted.revents & (POLLERR | POLLNVAL)) == 0;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

// Reads what has come by the deadline; 0 once it has passed or the peer has
// closed or failed.
std::size_t ReceiveBefore(int fd, char* buffer, std::size_t size, Clock::time_point deadline) {
    for (;;) {
        if (!WaitFor(fd, POLLIN, deadline)) {
            return 0;
        }
        const ssize_t got = recv(fd, buffer, size, 0);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

}  // namespace

std::string_view ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 302:
            return "Found";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 413:
            return "Payload Too Large";
        case 415:
            return "Unsupported Media Type";
        case 431:
            return "Request Header Fields Too Large";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

LoopbackServer::LoopbackServer(std::set<uid_t> admitted, std::size_t maxBody, Handler handler,
                               std::chrono::milliseconds headTime, Notes notes)
    : admitted_(std::move(admitted)),
      maxBody_(maxBody),
      handler_(std::move(handler)),
      headTime_(headTime),
      notes_(std::move(notes)) {}

LoopbackServer::~LoopbackServer() {
    Stop();
}

bool LoopbackServer::Start() {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listen_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listen_, 64) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void LoopbackServer::Stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    if (wake_[1] >= 0) {
        [[maybe_unused]] const ssize_t written = write(wake_[1], "x", 1);
    }
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // Idle connections and streams end now. A request in hand may be the
    // very call that closed the window: its answer goes out first, for a
    // moment, and the connection closes after it.
    for (const auto& [fd, connection] : connections_) {
        if (connection.phase != Phase::kBusy) {
            shutdown(fd, SHUT_RDWR);
        }
    }
    if (!allClosed_.wait_for(lock, kAnswerGrace, [this] { return !AnyBusy(); }) && notes_) {
        notes_("Bridge stopped before every answer had gone out");
    }
    for (const auto& entry : connections_) {
        shutdown(entry.first, SHUT_RDWR);
    }
    allClosed_.wait(lock, [this] { return connections_.empty(); });
    lock.unlock();
    for (int* fd : {&listen_, &wake_[0], &wake_[1]}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

void LoopbackServer::AcceptLoop() {
    for (;;) {
        pollfd waits[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(waits, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (stopping_ || (waits[1].revents & POLLIN) != 0) {
            return;
        }
        const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        // Before a byte is read: only processes of the admitted users.
        const std::optional<uid_t> owner = PeerOwner(fd);
        if (!owner || admitted_.count(*owner) == 0) {
            ++refusedPeers_;
            close(fd);
            if (notes_) {
                notes_(owner ? "Bridge connection refused: its process belongs to user " +
                                   std::to_string(*owner)
                             : std::string("Bridge connection refused: its owner is unknown"));
            }
            continue;
        }
        const int noDelay = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        if (!Admit(fd)) {
            close(fd);
            continue;
        }
        std::thread([this, fd] { Serve(fd); }).detach();
    }
}

bool LoopbackServer::Admit(int fd) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
        return false;
    }
    if (connections_.size() >= kMaxConnections) {
        // Idle or slow connections must not keep the page out: the one that
        // has waited longest for a head goes. Its thread ends it and lets go
        // of the place; until then it counts, but is not chosen again.
        auto oldest = connections_.end();
        for (auto it = connections_.begin(); it != connections_.end(); ++it) {
            if (it->second.phase == Phase::kWaiting &&
                (oldest == connections_.end() || it->second.since < oldest->second.since)) {
                oldest = it;
            }
        }
        if (oldest == connections_.end()) {
            return false;  // every place is busy with a request
        }
        shutdown(oldest->first, SHUT_RDWR);
        oldest->second.phase = Phase::kEnding;  // not chosen again
    }
    connections_[fd] = Connection{Phase::kWaiting, Clock::now()};
    return true;
}

void LoopbackServer::SetPhase(int fd, Phase phase) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = connections_.find(fd);
    if (found != connections_.end() && found->second.phase != Phase::kEnding) {
        found->second = Connection{phase, Clock::now()};
        allClosed_.notify_all();  // Stop may wait for the busy ones
    }
}

bool LoopbackServer::AnyBusy() const {
    for (const auto& entry : connections_) {
        if (entry.second.phase == Phase::kBusy) {
            return true;
        }
    }
    return false;
}

bool LoopbackServer::ReadRequest(int fd, HttpRequestReader& reader, std::string& pending) {
    // Whatever followed the last request comes first.
    HttpRequestReader::State state = reader.Feed(pending);
    pending.clear();
    const Clock::time_point deadline = Clock::now() + headTime_;
    char buffer[kReadChunk];
    while (state == HttpRequestReader::State::kNeedMore) {
        const std::size_t got = ReceiveBefore(fd, buffer, sizeof buffer, deadline);
        if (got == 0) {
            return false;
        }
        state = reader.Feed(std::string_view(buffer, got));
    }
    SetPhase(fd, Phase::kBusy);
    if (state == HttpRequestReader::State::kRefused) {
        return true;  // answered by the caller
    }
    HttpRequest& request = reader.Request();
    std::string body = reader.TakeLeftover();
    while (body.size() < request.contentLength) {
        const std::size_t got = ReceiveBefore(fd, buffer, sizeof buffer, deadline);
        if (got == 0) {
            return false;
        }
        body.append(buffer, got);
    }
    pending = body.substr(request.contentLength);
    body.resize(request.contentLength);
    request.body = std::move(body);
    return true;
}

bool LoopbackServer::Send(int fd, std::string_view bytes) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitFor(fd, POLLOUT, deadline)) {
                return false;
            }
            continue;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void LoopbackServer::Answer(int fd, Response& response, bool keepAlive, bool head) {
    std::string text = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       std::string(ReasonPhrase(response.status)) + "\r\n";
    for (const auto& [name, value] : response.headers) {
        text.append(name).append(": ").append(value).append("\r\n");
    }
    if (response.stream) {
        text += "Connection: close\r\n\r\n";
        if (!Send(fd, text) || head) {
            return;
        }
        SetPhase(fd, Phase::kStreaming);
        const auto write = [this, fd](std::string_view bytes) { return Send(fd, bytes); };
        while (!stopping_ && response.stream(write)) {
        }
        return;
    }
    text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    text += keepAlive && !response.close ? "\r\n" : "Connection: close\r\n\r\n";
    if (!head) {
        text += response.body;
    }
    Send(fd, text);
}

void LoopbackServer::LingerBeforeClose(int fd) {
    // A client may still be sending what was refused: closing on unread
    // bytes resets the connection, and the reset can destroy the answer
    // before the client reads it. So the writing side ends first, and what
    // still comes is read and dropped for a moment, within bounds.
    shutdown(fd, SHUT_WR);
    const Clock::time_point deadline = Clock::now() + kLinger;
    std::size_t dropped = 0;
    char buffer[kReadChunk];
    while (dropped < kMaxLingerBytes && !stopping_ && WaitFor(fd, POLLIN, deadline)) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        dropped += static_cast<std::size_t>(got);
    }
}

void LoopbackServer::Serve(int fd) {
    std::string pending;
    for (;;) {
        HttpRequestReader reader(maxBody_);
        SetPhase(fd, Phase::kWaiting);
        if (stopping_ || !ReadRequest(fd, reader, pending)) {
            break;
        }
        Response response;
        if (reader.RefusalStatus() != 0) {
            response.status = reader.RefusalStatus();
            response.body = reader.RefusalReason();
            response.headers.emplace_back("Content-Type", "text/plain; charset=utf-8");
            response.close = true;
        } else {
            handler_(reader.Request(), response);
        }
        const HttpRequest& request = reader.Request();
        const bool keepAlive = request.keepAlive && !response.close && !response.stream &&
                               response.status < 400 && !stopping_;
        Answer(fd, response, keepAlive, request.method == "HEAD");
        if (!keepAlive) {
            if (reader.RefusalStatus() != 0) {
                LingerBeforeClose(fd);  // the refused body may still be coming
            }
            break;
        }
    }
    // Out of the set before the descriptor is closed, so Stop never shuts a
    // number down that something else has taken; nothing of the server is
    // touched once the set lets go (Stop may be about to return).
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        connections_.erase(fd);
        allClosed_.notify_all();
    }
    close(fd);
}

}  // namespace stubframework::platform::posix
