// The rows of a Windows Installer package's tables that this installer acts
// on, as plain values: text columns as read, integer columns as numbers
// (kNoInteger where the column is empty).
#pragma once

#include <climits>
#include <cstdint>
#include <string>

namespace stubframework::platform::msi::detail {

inline constexpr int kNoInteger = INT_MIN;

struct PackageFile {
    std::string key;  // the File table's key, the name inside the cabinet
    std::string component;
    std::string name;  // the long file name
    std::int64_t size = 0;
    std::string version;  // empty for an unversioned file
    int attributes = 0;
    int sequence = 0;
};

struct PackageDirectory {
    std::string parent;
    std::string name;  // the long target name; "." for the parent itself
};

struct PackageComponent {
    std::string key;
    std::string id;  // its GUID
    std::string directory;
    int attributes = 0;
    std::string condition;
    std::string keyPath;

    static constexpr int kRegistryKeyPath = 0x4;
    static constexpr int k64Bit = 0x100;
    bool Is64Bit() const { return (attributes & k64Bit) != 0; }
};

struct PackageFeature {
    std::string key;
    std::string parent;
    std::string title;
    int level = 1;
    int attributes = 0;
};

// A Condition-table row: the feature's level becomes `level` when it holds.
struct FeatureCondition {
    std::string feature;
    int level = 0;
    std::string condition;
};

struct RegistryRow {
    std::string key;  // the row's own key
    int root = 0;     // -1 (by ALLUSERS), 0 HKCR, 1 HKCU, 2 HKLM, 3 HKU
    std::string path;
    std::string name;
    std::string value;
    bool hasValue = false;
    std::string component;
};

struct LaunchConditionRow {
    std::string condition;
    std::string description;
};

struct UpgradeRow {
    std::string upgradeCode;
    std::string versionMin;
    std::string versionMax;
    std::string language;
    int attributes = 0;
    std::string remove;
    std::string actionProperty;

    static constexpr int kOnlyDetect = 0x2;
    static constexpr int kVersionMinInclusive = 0x100;
    static constexpr int kVersionMaxInclusive = 0x200;
};

struct CustomActionRow {
    std::string action;
    int type = 0;
    std::string source;
    std::string target;
};

struct SequenceRow {
    std::string action;
    std::string condition;
    int sequence = 0;
};

struct ShortcutRow {
    std::string key;
    std::string directory;
    std::string name;  // the long name
    std::string component;
    std::string target;  // a feature key (advertised) or formatted text
    std::string arguments;
    std::string description;
    std::string workingDirectory;
};

struct CreateFolderRow {
    std::string directory;
    std::string component;
};

// RemoveFile rows: a file name (wildcards allowed) or, without one, the
// folder itself; `directory` names a property that holds the folder.
struct RemoveFileRow {
    std::string key;
    std::string component;
    std::string fileName;
    std::string directory;
    int mode = 0;

    static constexpr int kOnInstall = 1;
    static constexpr int kOnRemove = 2;
};

struct EnvironmentRow {
    std::string key;
    std::string name;
    std::string value;
    std::string component;
};

// AppSearch: `property` takes what the locators find for `signature`.
struct AppSearchRow {
    std::string property;
    std::string signature;
};

// A file to find: its name and the bounds its version, size and date keep
// (empty or kNoInteger where the package sets none).
struct SignatureRow {
    std::string fileName;  // the long name
    std::string minVersion;
    std::string maxVersion;
    int minSize = kNoInteger;
    int maxSize = kNoInteger;
    int minDate = kNoInteger;  // as DOS date and time, date in the high word
    int maxDate = kNoInteger;
};

struct RegLocatorRow {
    std::string signature;
    int root = 0;  // 0 HKCR, 1 HKCU, 2 HKLM, 3 HKU
    std::string key;
    std::string name;
    int type = 0;

    static constexpr int kDirectory = 0;
    static constexpr int kFile = 1;
    static constexpr int kRawValue = 2;
    static constexpr int k64Bit = 0x10;
};

struct DrLocatorRow {
    std::string signature;
    std::string parent;  // a signature whose place this one's path starts from
    std::string path;
    int depth = 0;
};

struct CompLocatorRow {
    std::string signature;
    std::string componentId;  // the GUID of an installed component
    int type = 0;             // 0: its folder, 1: a file in it

    static constexpr int kFile = 1;
};

}  // namespace stubframework::platform::msi::detail
