// Which features and components an installation, change or removal leaves
// in place: feature levels with their conditions against INSTALLLEVEL, the
// ADDLOCAL and REMOVE lists, and a component kept while any feature that
// holds it stays (and its own condition holds when it is installed).
#pragma once

#include <map>
#include <set>
#include <string>

#include "platform/posix/msi/Condition.h"
#include "platform/posix/msi/MsiPackage.h"

namespace stubframework::platform::msi::detail {

struct ItemState {
    int installed = kStateAbsent;
    int action = kStateUnknown;  // kStateUnknown: no change
    // Local once the installation is done.
    bool Ends() const {
        return action == kStateLocal || (action == kStateUnknown && installed == kStateLocal);
    }
};

struct Selection {
    std::map<std::string, ItemState> features;
    std::map<std::string, ItemState> components;
};

// `installedFeatures` are those of the product as installed (none for a
// first installation); `properties` reads ADDLOCAL, REMOVE, INSTALLLEVEL
// and the conditions. Unknown feature names in the lists are ignored.
Selection SelectFeatures(const Package& package, const std::set<std::string>& installedFeatures,
                         const std::set<std::string>& installedComponents,
                         const ConditionContext& properties);

}  // namespace stubframework::platform::msi::detail
