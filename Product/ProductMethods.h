// The product's own script methods: its rows of the method table, registered
// after the framework's, and their handlers.
#pragma once

#include <span>

#include "bridge/MethodTable.h"

namespace myexternalmethods {

// In the order the product registers them.
std::span<const stubframework::MethodRow> ProductMethods();

}  // namespace myexternalmethods
