// One progress bar the page follows: the "downloadTotal"/"downloadCurrent"
// or the "installTotal"/"installCurrent" pair of the property store. Values
// are written as unsigned 32-bit numbers and read back as signed ones, the
// way the page receives them.
#pragma once

#include <cstdint>

namespace stubframework::core {

inline constexpr const char* kDownloadTotal = "downloadTotal";
inline constexpr const char* kDownloadCurrent = "downloadCurrent";
inline constexpr const char* kInstallTotal = "installTotal";
inline constexpr const char* kInstallCurrent = "installCurrent";

class ProgressBar {
public:
    virtual std::int32_t Total() = 0;
    virtual std::int32_t Current() = 0;
    virtual void SetTotal(std::uint32_t total) = 0;
    virtual void SetCurrent(std::uint32_t current) = 0;

    // Full: the current value at the total.
    void Fill() { SetCurrent(static_cast<std::uint32_t>(Total())); }

protected:
    ~ProgressBar() = default;
};

}  // namespace stubframework::core
