#include "bridge/ExternalMethods.h"

#include "core/CommandLine.h"
#include "core/FrameworkCore.h"
#include "core/ResumeRecord.h"

namespace stubframework {

ExternalMethods::ExternalMethods(FrameworkServices& framework) : framework_(framework) {
    core::FrameworkCore& core = framework_.Core();
    core.Properties().AttachLock(&propertyLock_);
    core::ApplyResumeRecord(core, core::ResumeModeFromArguments(core::CommandLineArguments()),
                            framework_.Log());
    RegisterMethods(BuiltInMethods());
}

// The framework may already be gone (the table is destroyed last); the
// store went with it and nothing holds the lock any more.
ExternalMethods::~ExternalMethods() = default;

void ExternalMethods::RegisterMethods(std::span<const MethodRow> rows) {
    for (const MethodRow& row : rows) {
        methods_.insert_or_assign(std::string(row.signature.name), row);
    }
}

}  // namespace stubframework
