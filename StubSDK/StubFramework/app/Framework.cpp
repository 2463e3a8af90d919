#include "app/Framework.h"

#include "platform/window.h"
#include "platform/windowthread.h"
#include "telemetry/WebServiceClient.h"

namespace stubframework {

StubFramework::StubFramework(const core::ProductValues& product,
                             std::unique_ptr<platform::InstanceMutex> mutex)
    : log_(std::make_unique<debug::InstallerLog>()),
      core_(std::make_unique<core::FrameworkCore>(product)),
      pages_(std::make_unique<core::PagePackage>(log_.get())),
      analytics_(std::make_unique<core::Analytics>(*core_)),
      mutex_(std::move(mutex)),
      dispatch_(platform::com::Ptr<core::HtmlExternal>::Attach(core::HtmlExternal::Create(*this))) {
    // With the reports: before any can be sent.
    core::InitWebServiceHost();
}

StubFramework::~StubFramework() {
    DestroyMembers();
}

void StubFramework::ListenForActivation() {
    if (!mutex_) {
        return;
    }
    core::HtmlExternal* dispatch = dispatch_.Get();
    mutex_->Listen([this, dispatch](const std::string& windowClass) {
        debug::LogDebugMessage(log_.get(), "Activation requested by another instance for %s",
                               windowClass.c_str());
        // The window belongs to the window thread: bring it forward from there.
        return platform::PostToWindowThread(
            [dispatch] { platform::window::Activate(dispatch->HostWindow()); });
    });
}

void StubFramework::DestroyMembers() {
    // No request may reach the log while it goes away.
    if (mutex_) {
        mutex_->StopListening();
    }
    analytics_.reset();
    pages_.reset();
    core_.reset();
    log_.reset();
    mutex_.reset();
    dispatch_.Reset();
}

}  // namespace stubframework
