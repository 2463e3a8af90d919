// The table of script-callable methods. It owns the lock of the property
// store, so the store is usable from other threads exactly while it lives.
#pragma once

#include <mutex>

namespace stubframework {

class StubFramework;

class ExternalMethods {
public:
    // Keeps the framework, takes over the property-store lock and pours the
    // resume record into the store before any page exists.
    explicit ExternalMethods(StubFramework& framework);
    virtual ~ExternalMethods();
    ExternalMethods(const ExternalMethods&) = delete;
    ExternalMethods& operator=(const ExternalMethods&) = delete;

    StubFramework& Framework() const { return framework_; }

private:
    StubFramework& framework_;
    std::mutex propertyLock_;
};

}  // namespace stubframework
