// A Windows Installer package read with libmsi: the tables this installer
// acts on, whether it uses anything it cannot do, and its cabinets and
// binary streams unpacked with libgcab.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/msi/PackageTables.h"

namespace stubframework::platform::msi::detail {

class Package {
public:
    // Reads the tables; false with Error() when the file is not a package.
    bool Load(const std::string& path);
    const std::string& Error() const { return error_; }

    std::string Property(const std::string& name) const;
    const std::map<std::string, std::string>& Properties() const { return properties_; }
    const std::map<std::string, PackageDirectory>& Directories() const { return directories_; }
    const std::map<std::string, PackageComponent>& Components() const { return components_; }
    // The directory key of a component.
    std::string ComponentDirectory(const std::string& component) const;
    const std::vector<PackageFile>& Files() const { return files_; }
    const std::vector<PackageFeature>& Features() const { return features_; }
    const std::vector<FeatureCondition>& FeatureConditions() const { return featureConditions_; }
    // (feature, component) pairs.
    const std::vector<std::pair<std::string, std::string>>& FeatureComponents() const {
        return featureComponents_;
    }
    const std::vector<RegistryRow>& Registry() const { return registry_; }
    const std::vector<RegistryRow>& RemoveRegistry() const { return removeRegistry_; }
    const std::vector<LaunchConditionRow>& LaunchConditions() const { return launchConditions_; }
    const std::vector<UpgradeRow>& Upgrades() const { return upgrades_; }
    const std::map<std::string, CustomActionRow>& CustomActions() const { return customActions_; }
    // InstallExecuteSequence in the order of its Sequence numbers.
    const std::vector<SequenceRow>& ExecuteSequence() const { return sequence_; }
    const std::vector<ShortcutRow>& Shortcuts() const { return shortcuts_; }
    const std::vector<CreateFolderRow>& CreateFolders() const { return createFolders_; }
    const std::vector<RemoveFileRow>& RemoveFiles() const { return removeFiles_; }
    const std::vector<EnvironmentRow>& Environment() const { return environment_; }
    const std::vector<AppSearchRow>& AppSearches() const { return appSearches_; }
    const std::map<std::string, SignatureRow>& Signatures() const { return signatures_; }
    const std::map<std::string, RegLocatorRow>& RegLocators() const { return regLocators_; }
    const std::vector<DrLocatorRow>& DrLocators() const { return drLocators_; }
    const std::map<std::string, CompLocatorRow>& CompLocators() const { return compLocators_; }
    // From the summary's platform: "x64" (or another 64-bit one) packages
    // write to the 64-bit views.
    bool Is64Bit() const { return is64Bit_; }
    // The first table or column this installer cannot act on, with rows in
    // it; empty when it can install the whole package.
    const std::string& Unsupported() const { return unsupported_; }

    // Unpacks every cabinet (embedded or beside the package) into `folder`,
    // each file under its File key.
    bool ExtractFiles(const std::string& folder);
    // Writes the Binary table's stream `name` to `path`.
    bool ExtractBinary(const std::string& name, const std::string& path);

private:
    bool ReadTables(void* database);
    bool SortSequence();
    bool CheckNames();
    bool ExtractCabinet(const std::string& cabinet, const std::string& folder);

    std::string path_;
    std::set<std::string> tables_;
    std::map<std::string, std::string> properties_;
    std::map<std::string, PackageDirectory> directories_;
    std::map<std::string, PackageComponent> components_;
    std::vector<PackageFile> files_;
    std::vector<PackageFeature> features_;
    std::vector<FeatureCondition> featureConditions_;
    std::vector<std::pair<std::string, std::string>> featureComponents_;
    std::vector<RegistryRow> registry_;
    std::vector<RegistryRow> removeRegistry_;
    std::vector<LaunchConditionRow> launchConditions_;
    std::vector<UpgradeRow> upgrades_;
    std::map<std::string, CustomActionRow> customActions_;
    std::vector<SequenceRow> sequence_;
    std::vector<ShortcutRow> shortcuts_;
    std::vector<CreateFolderRow> createFolders_;
    std::vector<RemoveFileRow> removeFiles_;
    std::vector<EnvironmentRow> environment_;
    std::vector<AppSearchRow> appSearches_;
    std::map<std::string, SignatureRow> signatures_;
    std::map<std::string, RegLocatorRow> regLocators_;
    std::vector<DrLocatorRow> drLocators_;
    std::map<std::string, CompLocatorRow> compLocators_;
    std::vector<std::string> cabinets_;
    bool is64Bit_ = false;
    std::string unsupported_;
    std::string error_;
};

// One row of the package's Property table, read by a query of its own: no
// other table is needed. False when the package or the row cannot be read.
bool QueryPackageProperty(const std::string& path, const std::string& name, std::string& value);

}  // namespace stubframework::platform::msi::detail
