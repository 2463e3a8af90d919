// Requests from outside to end the program: SIGTERM, SIGHUP and SIGINT on
// POSIX (console close, log-off and shutdown events on Windows). The program
// treats them as a close of its window, so its normal end runs.
#pragma once

#include <functional>

namespace stubframework::platform {

// Where each request came from.
enum class EndRequestSource {
    kSent,      // sent to this process by another one (kill)
    kTerminal,  // raised by the terminal or the kernel, for the whole process group
};

// From now on each request calls `onRequest` on a thread of its own instead
// of ending the process. Children started later get the signals' usual
// meaning back. Once per process.
void HandleEndRequests(std::function<void(int request, EndRequestSource source)> onRequest);

}  // namespace stubframework::platform
