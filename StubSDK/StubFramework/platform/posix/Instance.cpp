// The named mutex is a lock file held with flock in the user's runtime
// folder; beside it, the holder listens on a local socket for activation
// requests from later instances.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/fs.h"
#include "platform/instance.h"
#include "platform/process.h"

namespace stubframework::platform {
namespace {

constexpr int kRequestTimeoutMs = 2000;
constexpr std::size_t kMaxRequest = 256;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_;
};

// The user's runtime folder; the temporary folder, with the user's id in the
// names, when the session has none.
std::string BasePath(const std::string& name) {
    const std::string runtime = process::EnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.empty() && fs::IsFolder(runtime)) {
        return runtime + "/" + name;
    }
    return fs::TempPath().value_or("/tmp/") + name + "-" + std::to_string(getuid());
}

bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool WaitReadable(int fd, int timeoutMs) {
    pollfd ready{fd, POLLIN, 0};
    int result = 0;
    while ((result = poll(&ready, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    return result > 0;
}

// One line, at most kMaxRequest bytes, within the time-out.
std::string ReadLine(int fd) {
    std::string line;
    std::array<char, 64> buffer{};
    while (line.size() < kMaxRequest && line.find('\n') == std::string::npos) {
        if (!WaitReadable(fd, kRequestTimeoutMs)) {
            return {};
        }
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got <= 0) {
            break;
        }
        line.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return line.substr(0, line.find('\n'));
}

void WriteText(int fd, const std::string& text) {
    // MSG_NOSIGNAL: a peer that went away must not kill us with SIGPIPE.
    send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

class PosixInstanceMutex final : public InstanceMutex {
public:
    PosixInstanceMutex(Fd lock, bool existed, std::string socketPath)
        : lock_(std::move(lock)), existed_(existed), socketPath_(std::move(socketPath)) {}

    ~PosixInstanceMutex() override { StopListening(); }

    bool AlreadyExisted() const override { return existed_; }

    void Listen(std::function<bool(const std::string&)> onActivate) override {
        if (existed_ || listener_.joinable()) {
            return;
        }
        sockaddr_un address{};
        if (!SocketAddress(socketPath_, address)) {
            return;
        }
        Fd server(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        int wake[2] = {-1, -1};
        if (!server.Valid() || pipe2(wake, O_CLOEXEC) != 0) {
            return;
        }
        wakeRead_.Reset(wake[0]);
        wakeWrite_.Reset(wake[1]);
        // We hold the lock, so a socket file left here is a crashed holder's.
        unlink(socketPath_.c_str());
        if (bind(server.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            listen(server.Get(), 8) != 0) {
            return;
        }
        server_ = std::move(server);
        listener_ = std::thread([this, onActivate = std::move(onActivate)] { Serve(onActivate); });
    }

    void StopListening() override {
        if (!listener_.joinable()) {
            return;
        }
        const char stop = 0;
        static_cast<void>(write(wakeWrite_.Get(), &stop, 1));
        listener_.join();
        server_.Reset();
        unlink(socketPath_.c_str());
    }

private:
    void Serve(const std::function<bool(const std::string&)>& onActivate) {
        for (;;) {
            std::array<pollfd, 2> ready{{{server_.Get(), POLLIN, 0}, {wakeRead_.Get(), POLLIN, 0}}};
            if (poll(ready.data(), ready.size(), -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (ready[1].revents != 0) {
                return;
            }
            const Fd client(accept4(server_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!client.Valid()) {
                continue;
            }
            constexpr std::string_view kVerb = "activate ";
            const std::string request = ReadLine(client.Get());
            if (!request.starts_with(kVerb)) {
                WriteText(client.Get(), "error\n");
                continue;
            }
            const bool shown = onActivate(request.substr(kVerb.size()));
            WriteText(client.Get(), shown ? "ok\n" : "none\n");
        }
    }

    Fd lock_;
    const bool existed_;
    const std::string socketPath_;
    Fd server_;
    Fd wakeRead_;
    Fd wakeWrite_;
    std::thread listener_;
};

}  // namespace

std::unique_ptr<InstanceMutex> CreateInstanceMutex(const std::string& name) {
    const std::string base = BasePath(name);
    Fd lock(open((base + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lock.Valid()) {
        return nullptr;
    }
    bool existed = false;
    while (flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return nullptr;
        }
        existed = true;
        break;
    }
    return std::make_unique<PosixInstanceMutex>(std::move(lock), existed, base + ".sock");
}

bool ActivateExistingWindow(const std::string& mutexName, const std::string& windowClass) {
    sockaddr_un address{};
    if (!SocketAddress(BasePath(mutexName) + ".sock", address)) {
        return false;
    }
    const Fd client(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!client.Valid() ||
        connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return false;
    }
    WriteText(client.Get(), "activate " + windowClass + "\n");
    return ReadLine(client.Get()) == "ok";
}

}  // namespace stubframework::platform
