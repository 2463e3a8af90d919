#include "core/MinimumOs.h"

namespace stubframework::core {
namespace {

struct NamedVersion {
    std::string_view name;
    std::uint32_t major;
    std::uint32_t minor;
};

constexpr NamedVersion kVersions[] = {
    {"Windows XP", 5, 1}, {"Windows Vista", 6, 0}, {"Windows 7", 6, 1},   {"Windows 7 SP1", 6, 1},
    {"Windows 8", 6, 2},  {"Windows 8.1", 6, 3},   {"Windows 10", 10, 0},
};

}  // namespace

bool MeetsMinimumOs(std::uint32_t major, std::uint32_t minor, std::string_view minimumName) {
    NamedVersion minimum{minimumName, 6, 1};
    for (const NamedVersion& version : kVersions) {
        if (version.name == minimumName) {
            minimum = version;
            break;
        }
    }
    return major > minimum.major || (major == minimum.major && minor >= minimum.minor);
}

}  // namespace stubframework::core
