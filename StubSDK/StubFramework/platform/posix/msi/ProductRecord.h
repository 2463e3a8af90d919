// The record of an installed product in the registry store: what removal,
// repair, changes and upgrades need to know of it, in the installer's own key
// of the user (or of the machine, for ALLUSERS installations), and the
// product's Add/Remove entry under the uninstall key beside it, in the view
// of the package's bitness.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/msi/Transaction.h"
#include "platform/registry.h"

namespace stubframework::platform::msi::detail {

// One thing a component put in place, removed with it.
struct InstalledItem {
    enum class Kind : char {
        // path, content hash ("" for a versioned file), version, and "kept"
        // for a file the machine had before and keeps when the product goes
        File = 'F',
        Value = 'R',     // root, view, key, name
        Key = 'K',       // root, view, key: made by the installation
        Folder = 'D',    // path: made by the installation
        Shortcut = 'S',  // path of the desktop entry
        // root, variable name, the part this product added, and where:
        // "w" the whole value, "a" appended, "p" prepended
        Environment = 'E',
    };
    std::string component;
    Kind kind = Kind::File;
    std::vector<std::string> fields;
};

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
    std::set<std::string> features;
    // Its components as "GUID|folder": one another product also holds stays.
    std::set<std::string> componentIds;
    std::vector<InstalledItem> items;
    bool is64Bit = false;
    // Add/Remove values: Publisher, Language, the ARP* properties.
    std::map<std::string, std::string> entry;
    std::int64_t bytes = 0;
};

// The root a product's record goes under for its ALLUSERS value.
registry::Root RootFor(const std::string& allUsers);

// The record of `code`, the user's first, then the machine's.
bool FindRecord(const std::string& code, Record& record);
// Installed products with this upgrade code, under either root.
std::vector<Record> RecordsOfUpgradeCode(const std::string& upgradeCode);
// Every installed product, under either root.
std::vector<Record> AllRecords();
bool WriteRecord(Transaction& changes, const Record& record);
bool DeleteRecord(Transaction& changes, const Record& record);

}  // namespace stubframework::platform::msi::detail
