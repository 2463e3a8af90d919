// SIGTERM, SIGHUP and SIGINT are blocked in every thread and taken one by one
// by a thread of their own with sigwaitinfo.
#include <signal.h>

#include <cerrno>
#include <thread>

#include "platform/endrequest.h"

namespace stubframework::platform {

void HandleEndRequests(std::function<void(int request, EndRequestSource source)> onRequest) {
    sigset_t requests;
    sigemptyset(&requests);
    sigaddset(&requests, SIGTERM);
    sigaddset(&requests, SIGHUP);
    sigaddset(&requests, SIGINT);
    pthread_sigmask(SIG_BLOCK, &requests, nullptr);
    std::thread([requests, onRequest = std::move(onRequest)] {
        for (;;) {
            siginfo_t info{};
            const int request = sigwaitinfo(&requests, &info);
            if (request < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            const EndRequestSource source = info.si_code == SI_USER || info.si_code == SI_QUEUE
                                                ? EndRequestSource::kSent
                                                : EndRequestSource::kTerminal;
            try {
                onRequest(request, source);
            } catch (...) {
            }
        }
    }).detach();
}

}  // namespace stubframework::platform
