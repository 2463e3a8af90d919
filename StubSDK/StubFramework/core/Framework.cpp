#include "core/Framework.h"

namespace stubframework {

StubFramework::StubFramework(const core::ProductValues& product)
    : log_(std::make_unique<debug::InstallerLog>()),
      core_(std::make_unique<core::FrameworkCore>(product)) {}

StubFramework::~StubFramework() {
    DestroyMembers();
}

void StubFramework::DestroyMembers() {
    core_.reset();
    log_.reset();
}

}  // namespace stubframework
