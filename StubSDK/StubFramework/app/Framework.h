// The root object: one per process, owning the log, the core, the page
// package and window.external. The method table and its handlers reach it
// through FrameworkServices.
#pragma once

#include <memory>

#include "app/PagePackage.h"
#include "bridge/FrameworkServices.h"
#include "bridge/HtmlExternal.h"
#include "core/FrameworkCore.h"
#include "core/InstallerLog.h"
#include "core/ProductValues.h"
#include "platform/instance.h"
#include "telemetry/Analytics.h"

namespace stubframework {

class StubFramework final : public FrameworkServices {
public:
    // Builds the members in order: the log first, so the others can log.
    // Keeps the single-instance mutex, which may be null.
    StubFramework(const core::ProductValues& product,
                  std::unique_ptr<platform::InstanceMutex> mutex);
    ~StubFramework();
    StubFramework(const StubFramework&) = delete;
    StubFramework& operator=(const StubFramework&) = delete;

    debug::InstallerLog* Log() const override { return log_.get(); }
    core::FrameworkCore& Core() const override { return *core_; }
    // The framework holds one reference until the teardown.
    core::HtmlExternal& Dispatch() const override { return *dispatch_.Get(); }
    // The wizard's pages, extracted from the executable.
    const core::PagePackage& Pages() const { return *pages_; }
    // The reports to the web service.
    core::Analytics& Reports() const { return *analytics_; }

    // Answers later instances that ask for our window.
    void ListenForActivation();

    // Destroys the members in the teardown order: reports, pages, core, log, the
    // mutex, and the framework's reference to the dispatch object last.
    void DestroyMembers();

private:
    std::unique_ptr<debug::InstallerLog> log_;
    std::unique_ptr<core::FrameworkCore> core_;
    std::unique_ptr<core::PagePackage> pages_;
    std::unique_ptr<core::Analytics> analytics_;
    std::unique_ptr<platform::InstanceMutex> mutex_;
    platform::com::Ptr<core::HtmlExternal> dispatch_;
};

}  // namespace stubframework
