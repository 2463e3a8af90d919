// A small HTTP/1.1 server on 127.0.0.1 for the page bridge, strict where a
// general server is lenient: a connection from a process of a user not
// admitted is closed at accept, before any byte is read; each request head
// must arrive within a short time; a body needs a Content-Length within a
// cap; every refused request is answered with "Connection: close" and the
// connection closed; when every place is taken, the connection that has
// waited longest for a request head makes room; Stop ends idle connections
// and streams at once and lets an answer in hand go out, for a moment.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/host/HttpRequestReader.h"

namespace stubframework::platform::posix {

class LoopbackServer {
public:
    struct Response {
        int status = 200;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        // Instead of a body: called again and again with a writer until it
        // returns false or a write fails; the connection closes after it.
        std::function<bool(const std::function<bool(std::string_view)>& write)> stream;
        bool close = false;
    };
    using Handler = std::function<void(const HttpRequest&, Response&)>;
    // Told why a connection was closed unserved.
    using Notes = std::function<void(const std::string&)>;

    static constexpr std::chrono::milliseconds kHeadTime{10000};
    static constexpr std::size_t kMaxConnections = 64;
    // How long Stop lets requests already in hand finish their answers.
    static constexpr std::chrono::milliseconds kAnswerGrace{2000};

    // Only processes of the `admitted` users get in; a request head must
    // arrive within `headTime` of the connection or of the last answer.
    LoopbackServer(std::set<uid_t> admitted, std::size_t maxBody, Handler handler,
                   std::chrono::milliseconds headTime = kHeadTime, Notes notes = {});
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Binds an ephemeral port on 127.0.0.1 and starts accepting.
    bool Start();
    int Port() const { return port_; }
    // Ends every connection and waits for their threads; a request being
    // answered gets kAnswerGrace to send its answer first.
    void Stop();

    // Connections closed at accept because of their owner, for the tests.
    int RefusedPeers() const { return refusedPeers_; }

private:
    // A connection waits for a request head (since when), is busy with one,
    // streams an answer that only ends when it is closed, or was told to end.
    enum class Phase { kWaiting, kBusy, kStreaming, kEnding };
    struct Connection {
        Phase phase = Phase::kWaiting;
        std::chrono::steady_clock::time_point since;
    };

    bool Admit(int fd);
    void SetPhase(int fd, Phase phase);
    bool AnyBusy() const;
    void AcceptLoop();
    void Serve(int fd);
    bool ReadRequest(int fd, HttpRequestReader& reader, std::string& pending);
    bool Send(int fd, std::string_view bytes);
    void Answer(int fd, Response& response, bool keepAlive, bool head);
    void LingerBeforeClose(int fd);

    const std::set<uid_t> admitted_;
    const std::size_t maxBody_;
    const Handler handler_;
    const std::chrono::milliseconds headTime_;
    const Notes notes_;
    int listen_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> refusedPeers_{0};
    std::thread acceptor_;
    std::mutex mutex_;
    std::condition_variable allClosed_;
    std::map<int, Connection> connections_;
};

// A status line's reason text.
std::string_view ReasonPhrase(int status);

}  // namespace stubframework::platform::posix
