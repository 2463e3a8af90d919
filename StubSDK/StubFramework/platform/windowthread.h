// The window thread: the one thread that runs the window, every script call
// and every page callback. Other threads reach it only by posting work.
#pragma once

#include <cstdint>
#include <functional>

namespace stubframework::platform {

// The calling thread becomes the window thread and starts accepting work.
void OpenWindowThread();
// Stops accepting work and drops what is still queued: a page that has gone
// gets no more calls. Callers waiting on such work are told it was dropped.
void CloseWindowThread();

bool IsWindowThread();
bool IsWindowThreadOpen();

// Queues `task` for the window thread. False when the window thread is closed.
bool PostToWindowThread(std::function<void()> task);

// Runs queued work on the window thread until QuitWindowLoop is called.
void RunWindowLoop();
void QuitWindowLoop();

// Runs the work queued so far without waiting for more.
void RunPendingWindowWork();
// Called after every post, from the posting thread: an event loop other than
// RunWindowLoop (a toolkit's) uses it to wake up and run the pending work.
void SetWindowThreadWaker(std::function<void()> waker);

// Runs queued work until `done` holds or the time-out passes; true when done.
bool PumpWindowThreadUntil(const std::function<bool()>& done, std::uint32_t timeoutMs);

}  // namespace stubframework::platform
