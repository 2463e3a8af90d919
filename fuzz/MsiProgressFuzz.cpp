// Progress messages come from the installer: any text moves the install bar
// or leaves it, without a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/ProgressBar.h"
#include "install/Installers.h"

namespace {

class Bar final : public stubframework::core::ProgressBar {
public:
    std::int32_t Total() override { return static_cast<std::int32_t>(total_); }
    std::int32_t Current() override { return static_cast<std::int32_t>(current_); }
    void SetTotal(std::uint32_t total) override { total_ = total; }
    void SetCurrent(std::uint32_t current) override { current_ = current; }

private:
    std::uint32_t total_ = 1;
    std::uint32_t current_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Bar bar;
    static stubframework::core::MsiProgress progress(bar);
    const std::string text(reinterpret_cast<const char*>(data), size);
    stubframework::core::MsiUiHandler(&progress, 0x0A000000, text.c_str());
    return 0;
}
