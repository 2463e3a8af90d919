// The root object: one per process, owning the log and the core. Every
// handler reaches the rest of the stub through it.
#pragma once

#include <memory>

#include "bridge/HtmlExternal.h"
#include "core/FrameworkCore.h"
#include "core/InstallerLog.h"
#include "core/PagePackage.h"
#include "core/ProductValues.h"
#include "platform/instance.h"

namespace stubframework {

class StubFramework {
public:
    // Builds the members in order: the log first, so the others can log.
    // Keeps the single-instance mutex, which may be null.
    StubFramework(const core::ProductValues& product,
                  std::unique_ptr<platform::InstanceMutex> mutex);
    ~StubFramework();
    StubFramework(const StubFramework&) = delete;
    StubFramework& operator=(const StubFramework&) = delete;

    // Null once the teardown has destroyed it.
    debug::InstallerLog* Log() const { return log_.get(); }
    core::FrameworkCore& Core() const { return *core_; }
    // The wizard's pages, extracted from the executable.
    const core::PagePackage& Pages() const { return *pages_; }
    // window.external; the framework holds one reference until the teardown.
    core::HtmlExternal& Dispatch() const { return *dispatch_.Get(); }

    // Answers later instances that ask for our window.
    void ListenForActivation();

    // Destroys the members in the teardown order: pages, core, log, the mutex, and
    // the framework's reference to the dispatch object last.
    void DestroyMembers();

private:
    std::unique_ptr<debug::InstallerLog> log_;
    std::unique_ptr<core::FrameworkCore> core_;
    std::unique_ptr<core::PagePackage> pages_;
    std::unique_ptr<platform::InstanceMutex> mutex_;
    platform::com::Ptr<core::HtmlExternal> dispatch_;
};

}  // namespace stubframework
