// The life of the framework: start, the wizard run, teardown.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "StubFramework.h"
#include "app/Framework.h"
#include "core/ProductValues.h"

namespace stubframework {

class ExternalMethods;

// Builds the framework; nothing means the process must end now with status 0.
std::unique_ptr<StubFramework> Start(const core::ProductValues& product);

// Runs the wizard to its end and settles the final status, the kept log
// copy and the extraction folders.
void Run(StubFramework& framework, ExternalMethods& methods);

// Destroys the framework; ends the process with the self-update code when
// the run asked for it.
void Teardown(std::unique_ptr<StubFramework> framework);

namespace core {
// The final status: 0 counts as a cancel (3), then "Modify", "Repair" and
// "Remove" add 70, 80 and 90. Statuses above 3 stay as they are.
std::int32_t AdjustStatus(std::int32_t status, const std::string& uninstallOption);
}  // namespace core

}  // namespace stubframework
