#include "core/Framework.h"

namespace stubframework {

StubFramework::StubFramework(const core::ProductValues& product,
                             std::unique_ptr<platform::InstanceMutex> mutex)
    : log_(std::make_unique<debug::InstallerLog>()),
      core_(std::make_unique<core::FrameworkCore>(product)),
      mutex_(std::move(mutex)),
      dispatch_(platform::com::Ptr<core::HtmlExternal>::Attach(core::HtmlExternal::Create(*this))) {}

StubFramework::~StubFramework() {
    DestroyMembers();
}

void StubFramework::ListenForActivation() {
    if (!mutex_) {
        return;
    }
    mutex_->Listen([this](const std::string& windowClass) {
        debug::LogDebugMessage(log_.get(), "Activation requested by another instance for %s",
                               windowClass.c_str());
        return false;  // no window of ours is shown yet
    });
}

void StubFramework::DestroyMembers() {
    // No request may reach the log while it goes away.
    if (mutex_) {
        mutex_->StopListening();
    }
    core_.reset();
    log_.reset();
    mutex_.reset();
    dispatch_.Reset();
}

}  // namespace stubframework
