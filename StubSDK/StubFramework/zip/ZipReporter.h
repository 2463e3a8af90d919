// Progress of an archive extraction, reported entry by entry.
#pragma once

#include <cstdint>

namespace stubframework::zip {

class ZipReporter {
public:
    virtual void OnEntry(std::uint32_t index, std::uint32_t count) = 0;
    // A Win32 error code that made the extraction fail.
    virtual void SetError(std::uint32_t code) = 0;

protected:
    ~ZipReporter() = default;
};

}  // namespace stubframework::zip
