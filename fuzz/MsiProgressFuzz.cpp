// Progress messages come from the installer: any text moves the install bar
// or leaves it, without a crash.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bridge/HtmlExternal.h"
#include "core/Framework.h"
#include "core/ProductValues.h"
#include "install/Installers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto framework = [] {
        stubframework::core::ProductValues product{"Fuzz", "1.0.0", "test"};
        return std::make_unique<stubframework::StubFramework>(product, nullptr);
    }();
    const std::string text(reinterpret_cast<const char*>(data), size);
    stubframework::core::MsiUiHandler(&framework->Dispatch(), 0x0A000000, text.c_str());
    return 0;
}
