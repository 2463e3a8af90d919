// What the install engine reports to and reads from the side that started
// it (window.external for the page's installations): the install bar, the
// installer's last code, the log, the product whose log folder the
// installer writes to, the record of packages extracted while they
// downloaded, and where archive extraction reports its entries.
#pragma once

#include <cstdint>
#include <string>

#include "core/ProgressBar.h"
#include "core/PropertyStore.h"
#include "zip/ZipReporter.h"

namespace stubframework::debug {
class InstallerLog;
}

namespace stubframework {

class InstallHost {
public:
    virtual debug::InstallerLog* Log() const = 0;
    virtual std::string ProductId() = 0;
    virtual core::ProgressBar& InstallBar() = 0;
    // The code getLastInstallError answers.
    virtual void SetLastInstallError(std::uint32_t code) = 0;
    virtual core::PropertyStore& Properties() = 0;
    virtual zip::ZipReporter& ExtractionReporter() = 0;

protected:
    ~InstallHost() = default;
};

}  // namespace stubframework
