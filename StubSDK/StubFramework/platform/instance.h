// The single-instance rule: a named machine-wide mutex, and a way for a
// second instance to ask the first to bring its window to the front.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace stubframework::platform {

class InstanceMutex {
public:
    virtual ~InstanceMutex() = default;
    // True when another process already held the mutex when it was created.
    virtual bool AlreadyExisted() const = 0;
    // Only the holder listens: `onActivate(windowClass)` runs on a thread of
    // the listener's own for every request, and answers whether a window of
    // that class was brought to the front.
    virtual void Listen(std::function<bool(const std::string& windowClass)> onActivate) = 0;
    // Stops listening; no handler runs after this returns.
    virtual void StopListening() = 0;
};

// CreateMutex (not initially owned). Null when it could not be created at all.
std::unique_ptr<InstanceMutex> CreateInstanceMutex(const std::string& name);

// Asks the holder of the mutex to bring its window of `windowClass` to the
// front and restore it. False when no window answered.
bool ActivateExistingWindow(const std::string& mutexName, const std::string& windowClass);

}  // namespace stubframework::platform
