// The record of an installed product in the registry store: what removal,
// repair and upgrades need to know of it, in the installer's own key of the
// user (or of the machine, for ALLUSERS installations), and the product's
// Add/Remove entry under the uninstall key beside it.
#pragma once

#include <string>
#include <vector>

#include "platform/registry.h"

namespace stubframework::platform::msi::detail {

struct Record {
    registry::Root root = registry::Root::CurrentUser;
    std::string code;
    std::string name;
    std::string version;
    std::string upgradeCode;
    std::string location;
    std::string localPackage;
    std::string properties;  // the command line's properties, for a repair
    std::vector<std::string> files;
};

// The root a product's record goes under for its ALLUSERS value.
registry::Root RootFor(const std::string& allUsers);

// The record of `code`, the user's first, then the machine's.
bool FindRecord(const std::string& code, Record& record);
// Installed products with this upgrade code, under either root.
std::vector<Record> RecordsOfUpgradeCode(const std::string& upgradeCode);
bool WriteRecord(const Record& record);
void DeleteRecord(const Record& record);

}  // namespace stubframework::platform::msi::detail
