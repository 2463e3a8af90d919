// The bridge's HTTP server against raw sockets: who gets in, what a flood of
// idle or slow connections can hold up, and how it stops.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/host/LoopbackServer.h"
#include "platform/posix/host/SocketOwner.h"

namespace {

using stubframework::platform::posix::FindSocketOwner;
using stubframework::platform::posix::HttpRequest;
using stubframework::platform::posix::KernelSocketOwner;
using stubframework::platform::posix::LoopbackServer;
using stubframework::platform::posix::PeerOwner;
using stubframework::platform::posix::ReadSocketTable;

// A connected socket, closed with the object.
class Client {
public:
    explicit Client(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        connected_ = connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool Connected() const { return connected_; }
    int Fd() const { return fd_; }
    bool Send(const std::string& bytes) const {
        return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // What arrives until `text` has come (or the connection ends).
    std::string ReadUntil(const std::string& text) const {
        std::string got;
        char buffer[4096];
        ssize_t n = 0;
        while (got.find(text) == std::string::npos &&
               (n = recv(fd_, buffer, sizeof buffer, 0)) > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    // Everything until the server closes the connection.
    std::string ReadToEnd() const {
        std::string text;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = recv(fd_, buffer, sizeof buffer, 0)) > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }

private:
    int fd_;
    bool connected_ = false;
};

// A server answering "/ok" with "ok", "/stream" with a stream that goes on
// until the server stops, "/held" with "held" once `release` is set, anything
// else 404.
struct TestServer {
    explicit TestServer(std::set<uid_t> admitted = {geteuid()},
                        std::chrono::milliseconds headTime = LoopbackServer::kHeadTime)
        : server(
              std::move(admitted), 64,
              [this](const HttpRequest& request, LoopbackServer::Response& response) {
                  ++handled;
                  if (request.path == "/ok") {
                      response.body = "ok";
                  } else if (request.path == "/held") {
                      held = true;
                      held.notify_all();
                      release.wait(false);
                      response.body = "held";
                  } else if (request.path == "/stream") {
                      response.stream = [](const auto& write) { return write("tick\n"); };
                  } else {
                      response.status = 404;
                  }
              },
              headTime) {
        EXPECT_TRUE(server.Start());
    }
    std::atomic<int> handled{0};
    std::atomic<bool> held{false};
    std::atomic<bool> release{false};
    LoopbackServer server;
};

const char kGetOk[] = "GET /ok HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";

TEST(SocketOwnerTest, FindsTheOwnerOfAConnectionInBothTables) {
    // 127.0.0.1:50000 -> 127.0.0.1:8080, as the kernel prints it on a
    // little-endian machine, once plain and once v4-mapped.
    const std::string v4 =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid\n"
        "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0 0 1\n"
        "   1: 0100007F:C350 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  1000 0 2\n"
        "   2: garbage\n";
    const std::string v6 =
        "  sl  local_address                         remote_address                        st\n"
        "   0: 0000000000000000FFFF00000100007F:C350 0000000000000000FFFF00000100007F:1F90 01 "
        "00000000:00000000 00:00000000 00000000  1001 0 3\n";
    sockaddr_storage local{};
    sockaddr_storage remote{};
    auto& l = reinterpret_cast<sockaddr_in&>(local);
    auto& r = reinterpret_cast<sockaddr_in&>(remote);
    l.sin_family = r.sin_family = AF_INET;
    l.sin_addr.s_addr = r.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    l.sin_port = htons(50000);
    r.sin_port = htons(8080);
    EXPECT_EQ(FindSocketOwner(v4, local, remote).value_or(99), 1000u);
    EXPECT_EQ(FindSocketOwner(v6, local, remote).value_or(99), 1001u);
    // The server's own end is another socket.
    EXPECT_FALSE(FindSocketOwner(v4, remote, local));
    EXPECT_FALSE(FindSocketOwner("", local, remote));
}

TEST(LoopbackServerTest, AdmitsOwnProcessesAndClosesOthersBeforeReadingAByte) {
    TestServer ours;
    Client client(ours.server.Port());
    ASSERT_TRUE(client.Connected());
    ASSERT_TRUE(client.Send(kGetOk));
    EXPECT_NE(client.ReadToEnd().find("\r\n\r\nok"), std::string::npos);

    if (geteuid() != 0) {
        GTEST_SKIP() << "another user's process needs root to make";
    }
    // A process of another user: connected by the kernel, closed by us.
    // The child keeps to system calls (the parent has threads).
    const int port = ours.server.Port();
    const pid_t child = fork();
    if (child == 0) {
        if (setgid(4321) != 0 || setuid(4321) != 0) {
            _exit(2);
        }
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            _exit(3);
        }
        send(fd, kGetOk, sizeof kGetOk - 1, MSG_NOSIGNAL);
        char byte = 0;
        _exit(recv(fd, &byte, 1, 0) > 0 ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the stranger got an answer";
    EXPECT_EQ(ours.server.RefusedPeers(), 1);
    EXPECT_EQ(ours.handled, 1);
}

TEST(SocketOwnerTest, TheKernelAndItsTablesAgreeOnARealConnection) {
    TestServer ours;
    Client client(ours.server.Port());
    ASSERT_TRUE(client.Connected());
    sockaddr_storage mine{};
    sockaddr_storage server{};
    socklen_t length = sizeof mine;
    ASSERT_EQ(getsockname(client.Fd(), reinterpret_cast<sockaddr*>(&mine), &length), 0);
    length = sizeof server;
    ASSERT_EQ(getpeername(client.Fd(), reinterpret_cast<sockaddr*>(&server), &length), 0);
    EXPECT_EQ(FindSocketOwner(ReadSocketTable("/proc/net/tcp"), mine, server).value_or(99999),
              geteuid());
    const std::optional<uid_t> asked = KernelSocketOwner(mine, server);
    if (asked) {
        EXPECT_EQ(*asked, geteuid());
    } else {
        std::cout << "[ NOTE ] the kernel does not answer sock_diag here: the tables are used\n";
    }
    EXPECT_FALSE(KernelSocketOwner(server, server));
    // Seen from the client, the server's socket is the peer: ours too.
    EXPECT_EQ(PeerOwner(client.Fd()).value_or(99999), geteuid());
}

TEST(LoopbackServerTest, IdleAndSlowConnectionsDoNotKeepARequestOut) {
    TestServer ours;
    std::vector<std::unique_ptr<Client>> idle;
    for (std::size_t i = 0; i < LoopbackServer::kMaxConnections + 16; ++i) {
        idle.push_back(std::make_unique<Client>(ours.server.Port()));
        if (i % 2 == 0) {
            idle.back()->Send("GET /ok HTTP/1.1\r\nHo");  // a head that never ends
        }
    }
    Client client(ours.server.Port());
    ASSERT_TRUE(client.Send(kGetOk));
    EXPECT_NE(client.ReadToEnd().find("\r\n\r\nok"), std::string::npos);
    EXPECT_EQ(ours.handled, 1);
}

TEST(LoopbackServerTest, RefusalsCloseTheConnectionAndHeadsHaveADeadline) {
    TestServer ours({geteuid()}, std::chrono::milliseconds(100));
    // A chunked body is refused before any of it is read, and the
    // connection closed rather than kept for the next request.
    Client chunked(ours.server.Port());
    chunked.Send(
        "POST /ok HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n");
    const std::string answer = chunked.ReadToEnd();
    EXPECT_EQ(answer.rfind("HTTP/1.1 501 ", 0), 0u) << answer;
    EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos);
    Client large(ours.server.Port());
    large.Send("POST /ok HTTP/1.1\r\nHost: x\r\nContent-Length: 65\r\n\r\n");
    EXPECT_EQ(large.ReadToEnd().rfind("HTTP/1.1 413 ", 0), 0u);
    Client missing(ours.server.Port());
    missing.Send("GET /nothing HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_NE(missing.ReadToEnd().find("Connection: close\r\n"), std::string::npos);
    // Silent connections are closed by the server, not kept forever.
    Client silent(ours.server.Port());
    EXPECT_EQ(silent.ReadToEnd(), "");
    EXPECT_EQ(ours.handled, 1);
}

TEST(LoopbackServerTest, StopEndsEveryConnectionWhateverItsState) {
    TestServer ours;
    Client idle(ours.server.Port());
    Client halfHead(ours.server.Port());
    halfHead.Send("GET /ok HTT");
    Client halfBody(ours.server.Port());
    halfBody.Send("POST /ok HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\nabc");
    Client stream(ours.server.Port());
    stream.Send("GET /stream HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_NE(stream.ReadUntil("tick").find("tick"), std::string::npos);  // streaming now
    Client keptAlive(ours.server.Port());
    keptAlive.Send("GET /ok HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_NE(keptAlive.ReadUntil("\r\n\r\nok").find("ok"), std::string::npos);

    ours.server.Stop();
    for (const Client* client : {&idle, &halfHead, &halfBody, &keptAlive}) {
        EXPECT_EQ(client->ReadToEnd(), "");
    }
    stream.ReadToEnd();  // ends: the server let go of it
    EXPECT_FALSE(Client(ours.server.Port()).Connected());
}

TEST(LoopbackServerTest, AnAnswerInHandStillGoesOutWhenTheServerStops) {
    // The call that closes the window is answered while the window's thread
    // already stops the server: the page must still get its answer.
    TestServer ours;
    Client caller(ours.server.Port());
    caller.Send("GET /held HTTP/1.1\r\nHost: x\r\n\r\n");
    ours.held.wait(false);
    Client idle(ours.server.Port());  // served once, so surely accepted
    idle.Send("GET /ok HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_NE(idle.ReadUntil("\r\n\r\nok").find("ok"), std::string::npos);
    std::thread stopper([&ours] { ours.server.Stop(); });
    // Idle connections end at once; once this one has, Stop is under way.
    EXPECT_EQ(idle.ReadToEnd(), "");
    ours.release = true;
    ours.release.notify_all();
    const std::string answer = caller.ReadToEnd();
    stopper.join();
    EXPECT_NE(answer.find("\r\n\r\nheld"), std::string::npos) << answer;
    EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
}

}  // namespace
