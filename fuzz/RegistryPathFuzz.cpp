// Registry path texts as the pages send them: parsed, then used to create,
// open, write and read keys in a scratch registry. Beyond not crashing, a key
// that was created must open again under the same path and give back what
// was written to it.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/RegistryPath.h"
#include "platform/error.h"
#include "platform/registry.h"

namespace {

namespace reg = stubframework::platform::registry;
using stubframework::platform::kErrorSuccess;

struct ScratchRegistry {
    ScratchRegistry() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "registry-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            abort();
        }
        folder = pattern;
        setenv("STUB_REGISTRY_DIR", folder.c_str(), 1);
    }
    ~ScratchRegistry() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string folder;
};

void Require(bool condition) {
    if (!condition) {
        abort();
    }
}

void Exercise(const stubframework::core::RegistryPath& path, reg::View view) {
    reg::Key created;
    if (reg::CreateKey(path.root, path.subKey, view, created) != kErrorSuccess) {
        return;
    }
    reg::Key opened;
    Require(reg::OpenKey(path.root, path.subKey, view, reg::Access::Read, opened) == kErrorSuccess);
    Require(opened.Path() == created.Path());

    // The path text doubles as value name and data.
    const std::vector<std::uint8_t> data = reg::TextData(path.subKey);
    if (reg::SetValue(created, path.subKey, reg::kRegSz, data) == kErrorSuccess) {
        std::uint32_t type = 0;
        std::vector<std::uint8_t> back;
        Require(reg::QueryValue(opened, path.subKey, type, back) == kErrorSuccess);
        Require(type == reg::kRegSz && back == data);
    }
    std::string name;
    reg::EnumKey(opened, 0, name);
    reg::EnumValue(opened, 0, name);

    // Keep the scratch registry small: drop the whole top-level key.
    const std::string top = created.Path().substr(0, created.Path().find('\\'));
    if (!top.empty()) {
        reg::DeleteTree(path.root, top, reg::View::Wow64_64);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    static ScratchRegistry scratch;
    const std::string_view text(reinterpret_cast<const char*>(bytes), size);
    const auto path = stubframework::core::ParseRegistryPath(text);
    if (!path) {
        return 0;
    }
    const reg::View view = size % 2 == 0 ? reg::View::Default : reg::View::Wow64_64;
    Exercise(*path, view);
    return 0;
}
