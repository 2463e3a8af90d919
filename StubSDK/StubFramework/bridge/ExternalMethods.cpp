#include "bridge/ExternalMethods.h"

#include "bridge/BuiltInMethods.h"
#include "core/CommandLine.h"
#include "core/Framework.h"
#include "core/ResumeRecord.h"

namespace stubframework {

ExternalMethods::ExternalMethods(StubFramework& framework) : framework_(framework) {
    core::FrameworkCore& core = framework_.Core();
    core.Properties().AttachLock(&propertyLock_);
    core::ApplyResumeRecord(core, core::ResumeModeFromArguments(core::CommandLineArguments()),
                            framework_.Log());
    RegisterBuiltInMethods(*this);
}

// The framework may already be gone (the table is destroyed last); the
// store went with it and nothing holds the lock any more.
ExternalMethods::~ExternalMethods() = default;

void ExternalMethods::RegisterMethod(const std::string& name, MethodHandler handler,
                                     WORD scriptFlags) {
    methods_[name] = Method{handler, scriptFlags};
}

}  // namespace stubframework
