// SIGTERM, SIGHUP and SIGINT are caught on whatever thread they reach (a
// library may have started threads before us) and passed through a pipe to
// a thread of their own, where the request is handled.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/endrequest.h"

namespace stubframework::platform {
namespace {

// What the handler passes on: the signal and where it came from.
struct Arrival {
    int request;
    int code;
};

int requestPipe[2] = {-1, -1};

void OnSignal(int request, siginfo_t* info, void* /*context*/) {
    const int saved = errno;
    const Arrival arrival{request, info != nullptr ? info->si_code : SI_KERNEL};
    [[maybe_unused]] const ssize_t written = write(requestPipe[1], &arrival, sizeof arrival);
    errno = saved;
}

}  // namespace

void HandleEndRequests(std::function<void(int request, EndRequestSource source)> onRequest) {
    if (requestPipe[0] >= 0 || pipe2(requestPipe, O_CLOEXEC) != 0) {
        return;
    }
    std::thread([onRequest = std::move(onRequest)] {
        for (;;) {
            // Waiting in poll rather than read: a sanitizer runtime runs a
            // handler at once only inside calls it knows to block.
            pollfd ready{requestPipe[0], POLLIN, 0};
            if (poll(&ready, 1, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            Arrival arrival{};
            const ssize_t got = read(requestPipe[0], &arrival, sizeof arrival);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got != static_cast<ssize_t>(sizeof arrival)) {
                return;
            }
            const EndRequestSource source = arrival.code == SI_USER || arrival.code == SI_QUEUE
                                                ? EndRequestSource::kSent
                                                : EndRequestSource::kTerminal;
            try {
                onRequest(arrival.request, source);
            } catch (...) {
            }
        }
    }).detach();
    struct sigaction action {};
    action.sa_sigaction = OnSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int request : {SIGTERM, SIGHUP, SIGINT}) {
        sigaction(request, &action, nullptr);
    }
}

}  // namespace stubframework::platform
