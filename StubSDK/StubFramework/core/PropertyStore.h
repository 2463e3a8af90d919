// Named text values shared by the pages and the native side.
#pragma once

#include <map>
#include <mutex>
#include <string>

namespace stubframework::core {

class PropertyStore {
public:
    using Entries = std::map<std::string, std::string>;  // ordered by code units

    // The lock belongs to the script method table and lives as long as it;
    // before it is attached only the start-up thread uses the store.
    void AttachLock(std::mutex* lock) { lock_ = lock; }

    void Set(const std::string& name, const std::string& value);
    // A name never set is added with an empty value (and then shows in the dump).
    std::string Get(const std::string& name);
    Entries Snapshot() const;

private:
    std::unique_lock<std::mutex> Guard() const;

    Entries entries_;
    std::mutex* lock_ = nullptr;
};

}  // namespace stubframework::core
