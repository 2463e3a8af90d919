#include "core/PropertyStore.h"

namespace stubframework::core {

std::unique_lock<std::mutex> PropertyStore::Guard() const {
    return lock_ != nullptr ? std::unique_lock<std::mutex>(*lock_) : std::unique_lock<std::mutex>();
}

void PropertyStore::Set(const std::string& name, const std::string& value) {
    const auto guard = Guard();
    entries_[name] = value;
}

std::string PropertyStore::Get(const std::string& name) {
    const auto guard = Guard();
    return entries_[name];
}

PropertyStore::Entries PropertyStore::Snapshot() const {
    const auto guard = Guard();
    return entries_;
}

}  // namespace stubframework::core
