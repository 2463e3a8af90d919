// What this product compiles into its installer.
#pragma once

#include "core/ProductValues.h"

namespace myexternalmethods {

const stubframework::core::ProductValues& BrindlemarkProduct();

}  // namespace myexternalmethods
