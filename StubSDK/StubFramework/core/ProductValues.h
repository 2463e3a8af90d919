// The values a product compiles into its stub.
#pragma once

#include <string>

namespace stubframework::core {

struct ProductValues {
    std::string productId;  // also names the registry key and the log folder
    std::string version;    // "major.minor.patch"; the major part names the registry key
    std::string channel;
};

}  // namespace stubframework::core
