// Reference counting for engine objects: Object<T> is the concrete class of
// every task and callback. The count starts at 1; the last Release deletes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>

namespace downloader::details {

// Counts the engine objects alive, so tests can find a leaked task.
std::int64_t LiveObjects();
void CountObject(int delta);

template <class T>
class Object final : public T {
public:
    template <class... Arguments>
    explicit Object(Arguments&&... arguments) : T(std::forward<Arguments>(arguments)...) {
        CountObject(1);
    }

    std::int32_t AddRef() override { return ++references_; }

    std::int32_t Release() override {
        const std::int32_t left = --references_;
        if (left == 0) {
            delete this;  // engine objects own themselves through their count
        }
        return left;
    }

private:
    ~Object() { CountObject(-1); }

    std::atomic<std::int32_t> references_{1};
};

// A new Object<T> with one reference, or null when memory is short.
template <class T, class... Arguments>
Object<T>* Create(Arguments&&... arguments) {
    return new (std::nothrow) Object<T>(std::forward<Arguments>(arguments)...);
}

// One reference held for a scope: released when the holder goes.
template <class T>
struct ReleaseObject {
    void operator()(T* object) const { object->Release(); }
};
template <class T>
using Held = std::unique_ptr<T, ReleaseObject<T>>;

// A reference taken at construction, dropped by Reset or when the holder
// goes. Tasks keep their caller's callback this way: released as soon as the
// end is reported (the callback may hold the task), or at destruction when
// the task never ran.
template <class T>
class Ref {
public:
    explicit Ref(T* object) : object_(object) { object_->AddRef(); }
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    void Reset() {
        if (T* const object = object_) {
            object_ = nullptr;
            object->Release();
        }
    }
    T* operator->() const { return object_; }
    T* get() const { return object_; }

private:
    T* object_;
};

// A reference a task holds on itself for the length of a call that may
// report its end: the end may drop every other reference while the call
// still has work to do (a sub-task that fails inside its own Start reports
// straight back through the whole chain).
template <class T>
class KeepAlive {
public:
    explicit KeepAlive(T* task) : task_(task) { task_->AddRef(); }
    ~KeepAlive() { task_->Release(); }
    KeepAlive(const KeepAlive&) = delete;
    KeepAlive& operator=(const KeepAlive&) = delete;

private:
    T* const task_;
};

}  // namespace downloader::details
