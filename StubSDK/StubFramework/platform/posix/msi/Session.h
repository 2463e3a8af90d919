// One installation, change, repair or removal of a package: its
// InstallExecuteSequence walked in order, each action's condition read,
// every change made through one Transaction, the handler told, the log
// written, the product recorded or its record removed.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/msi/Condition.h"
#include "platform/posix/msi/Features.h"
#include "platform/posix/msi/FileLayout.h"
#include "platform/posix/msi/FormattedText.h"
#include "platform/posix/msi/MsiPackage.h"
#include "platform/posix/msi/ProductRecord.h"
#include "platform/posix/msi/SessionUi.h"
#include "platform/posix/msi/Transaction.h"

namespace stubframework::platform::msi::detail {

// NAME=value pairs of a command line (quoted values allowed).
std::map<std::string, std::string> ParseProperties(const std::string& commandLine);
// The value of `name`, or "".
std::string Get(const std::map<std::string, std::string>& properties, const std::string& name);
// Compares dotted versions numerically: negative, 0 or positive.
int CompareVersions(const std::string& a, const std::string& b);

class Session : public ConditionContext, public FormatContext {
public:
    // `quiet`: a removal inside another installation, which tells the
    // handler nothing of its own.
    Session(Package& package, const std::map<std::string, std::string>& commandLine,
            Transaction& changes, bool quiet = false);

    // A first installation, or a change or repair of `installed` (null for
    // none), as the properties ask. The caller commits or rolls back.
    std::uint32_t Install(const std::string& packagePath, const Record* installed);
    // Removes an installed product by its package's sequence; `keep` are
    // files another product now owns. With no package (Load failed) the
    // record alone says what goes.
    std::uint32_t Remove(const Record& installed, bool havePackage,
                         const std::set<std::string>& keep = {});

    std::string Property(const std::string& name) const override;
    std::string Environment(const std::string& name) const override;
    int ComponentInstalled(const std::string& name) const override;
    int ComponentAction(const std::string& name) const override;
    int FeatureInstalled(const std::string& name) const override;
    int FeatureAction(const std::string& name) const override;
    std::string FilePath(const std::string& fileKey) const override;
    std::string ComponentFolder(const std::string& component) const override;

private:
    std::uint32_t Refusal();
    void SetSystemProperties(const Record* installed);
    std::uint32_t RunSequence();
    std::uint32_t RunAction(const std::string& action);
    std::uint32_t RunCustomAction(const CustomActionRow& action);
    std::uint32_t RunProgram(const CustomActionRow& action);
    void ResolveFolders();
    void SelectItems();
    void KeepSharedComponents();
    std::string ComponentIdentity(const std::string& key) const;

    void AppSearch();
    std::string Locate(const std::string& signature, int depth);
    std::string LocateInRegistry(
        const RegLocatorRow& row, const SignatureRow* signature,
        const std::function<std::string(const std::string&, bool)>& inPlace);
    std::uint32_t LaunchConditions();
    void FindRelatedProducts();
    std::uint32_t RemoveExistingProducts();
    bool InstallFiles();
    bool RemoveFiles();
    bool RemoveFolders();
    // Removes `folders` and those the going components made, when empty.
    void RemoveEmptyFolders(std::vector<std::string> folders);
    bool CreateFolders();
    bool WriteRegistryValues();
    bool RemoveRegistryValues();
    bool WriteEnvironmentStrings();
    bool RemoveEnvironmentStrings();
    bool CreateShortcuts();
    bool RemoveShortcuts();
    bool RecordProduct(const std::string& packagePath);

    bool Installing(const std::string& component) const;
    bool Removing(const std::string& component) const;
    bool Reinstalling(const std::string& component) const;
    bool IsComponentFolder(const std::string& folder) const;
    std::string VersionOf(const PackageFile& file) const;
    bool WantsFile(const PackageFile& file, const std::string& target, const std::string& staged);
    void Note(const std::string& component, InstalledItem::Kind kind,
              std::vector<std::string> fields);
    // Drops the items of these kinds of the components going.
    void ForgetRemoved(std::initializer_list<InstalledItem::Kind> kinds);
    bool Applies(const RemoveFileRow& row) const;
    // A folder property without its trailing separator.
    std::string FolderProperty(const std::string& name) const;
    fs::Readers Readers() const;
    // Where a Registry or RemoveRegistry row writes: its hive, the view of
    // its component's bitness, and its formatted key and name.
    struct RegistryPlace {
        registry::Root hive;
        registry::View view;
        std::string key;
        std::string name;
    };
    RegistryPlace Target(const RegistryRow& row) const;

    Package& package_;
    std::map<std::string, std::string> commandLine_;
    std::map<std::string, std::string> properties_;
    Transaction& changes_;
    Layout layout_;
    VerboseLog log_;
    UiChannel ui_;
    bool quiet_;
    bool removing_ = false;
    bool rebootScheduled_ = false;
    bool costed_ = false;
    bool filesPlaced_ = false;
    bool foldersFound_ = false;
    std::set<std::string> givenFolders_;
    std::string stage_;  // the package's files, unpacked
    Selection selection_;
    Record record_;  // what the product will be once this session ends
    std::set<std::string> keep_;
    // Components (GUID and folder) the installation removing this product holds.
    std::set<std::string> heldByCaller_;
};

}  // namespace stubframework::platform::msi::detail
