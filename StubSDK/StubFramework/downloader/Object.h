// Reference counting for engine objects: Object<T> is the concrete class of
// every task and callback. The count starts at 1; the last Release deletes.
// References are held with Ptr<T> (TaskModel.h).
#pragma once

#include <atomic>
#include <cstdint>
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

}  // namespace downloader::details
