#include "platform/posix/msi/Session.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>

#include "platform/commandline.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace stubframework::platform::msi::detail {
namespace {

namespace stdfs = std::filesystem;
namespace reg = platform::registry;

using Kind = InstalledItem::Kind;

// Standard actions with nothing to do here: costing, validation,
// publishing, and those of tables a package may only use empty (any rows
// in them refuse the package before it starts).
bool IsQuietStandardAction(const std::string& action) {
    static const std::set<std::string> actions = {
        "AllocateRegistrySpace",
        "BindImage",
        "CCPSearch",
        "CostInitialize",
        "DeleteServices",
        "DisableRollback",
        "DuplicateFiles",
        "FileCost",
        "InstallAdminPackage",
        "InstallExecute",
        "InstallExecuteAgain",
        "InstallFinalize",
        "InstallInitialize",
        "InstallODBC",
        "InstallServices",
        "InstallSFPCatalogFile",
        "InstallValidate",
        "IsolateComponents",
        "MigrateFeatureStates",
        "MoveFiles",
        "MsiConfigureServices",
        "MsiPublishAssemblies",
        "MsiUnpublishAssemblies",
        "PatchFiles",
        "ProcessComponents",
        "PublishComponents",
        "PublishFeatures",
        "PublishProduct",
        "RegisterClassInfo",
        "RegisterComPlus",
        "RegisterExtensionInfo",
        "RegisterFonts",
        "RegisterMIMEInfo",
        "RegisterProduct",
        "RegisterProgIdInfo",
        "RegisterTypeLibraries",
        "RegisterUser",
        "RemoveDuplicateFiles",
        "RemoveEnvironmentStrings",
        "RemoveIniValues",
        "RemoveODBC",
        "ResolveSource",
        "RMCCPSearch",
        "SelfRegModules",
        "SelfUnregModules",
        "SetODBCFolders",
        "StartServices",
        "StopServices",
        "UnpublishComponents",
        "UnpublishFeatures",
        "UnregisterClassInfo",
        "UnregisterComPlus",
        "UnregisterExtensionInfo",
        "UnregisterFonts",
        "UnregisterMIMEInfo",
        "UnregisterProgIdInfo",
        "UnregisterTypeLibraries",
        "ValidateProductID",
        "WriteEnvironmentStrings",
        "WriteIniValues",
    };
    return actions.count(action) != 0;
}

bool IsActingStandardAction(const std::string& action) {
    static const std::set<std::string> actions = {
        "LaunchConditions",     "FindRelatedProducts", "CostFinalize",    "RemoveExistingProducts",
        "RemoveRegistryValues", "RemoveShortcuts",     "RemoveFiles",     "RemoveFolders",
        "CreateFolders",        "InstallFiles",        "CreateShortcuts", "WriteRegistryValues",
        "ScheduleReboot",       "ForceReboot",         "AppSearch",
    };
    return actions.count(action) != 0;
}

// The order of a package that has no sequence of its own.
const std::vector<std::string>& DefaultSequence() {
    static const std::vector<std::string> actions = {
        "AppSearch",
        "LaunchConditions",
        "FindRelatedProducts",
        "CostInitialize",
        "FileCost",
        "CostFinalize",
        "InstallValidate",
        "InstallInitialize",
        "RemoveExistingProducts",
        "RemoveShortcuts",
        "RemoveRegistryValues",
        "RemoveFiles",
        "RemoveFolders",
        "CreateFolders",
        "InstallFiles",
        "CreateShortcuts",
        "WriteRegistryValues",
        "InstallFinalize",
    };
    return actions;
}

constexpr int kBaseTypeMask = 0x3F;
constexpr int kContinueOnReturn = 0x40;
constexpr int kAsync = 0x80;
constexpr int kRollbackOnly = 0x100;
constexpr int kCommitOnly = 0x200;

// Custom actions this installer runs: property and folder setters, an
// error that ends the installation, and programs.
bool IsRunnableType(int base) {
    return base == 51 || base == 35 || base == 19 || base == 2 || base == 18 || base == 34 ||
           base == 50;
}

}  // namespace

std::map<std::string, std::string> ParseProperties(const std::string& commandLine) {
    std::map<std::string, std::string> properties;
    for (const std::string& argument : SplitCommandLine("msiexec " + commandLine)) {
        const std::size_t equals = argument.find('=');
        if (equals != std::string::npos && equals != 0) {
            properties[argument.substr(0, equals)] = argument.substr(equals + 1);
        }
    }
    return properties;
}

std::string Get(const std::map<std::string, std::string>& properties, const std::string& name) {
    const auto found = properties.find(name);
    return found != properties.end() ? found->second : std::string();
}

int CompareVersions(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() || j < b.size()) {
        const long x = std::strtol(a.c_str() + i, nullptr, 10);
        const long y = std::strtol(b.c_str() + j, nullptr, 10);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        i = a.find('.', i);
        j = b.find('.', j);
        i = i == std::string::npos ? a.size() : i + 1;
        j = j == std::string::npos ? b.size() : j + 1;
    }
    return 0;
}

Session::Session(Package& package, const std::map<std::string, std::string>& commandLine,
                 Transaction& changes, bool quiet)
    : package_(package),
      commandLine_(commandLine),
      properties_(package.Properties()),
      changes_(changes),
      layout_(package_, properties_),
      quiet_(quiet) {
    for (const auto& [name, value] : commandLine_) {
        properties_[name] = value;
    }
}

// ---- what conditions and formatted text read ----

std::string Session::Property(const std::string& name) const {
    return Get(properties_, name);
}

std::string Session::Environment(const std::string& name) const {
    return process::EnvironmentVariable(name.c_str());
}

int Session::ComponentInstalled(const std::string& name) const {
    const auto found = selection_.components.find(name);
    return found != selection_.components.end() ? found->second.installed : kStateUnknown;
}

int Session::ComponentAction(const std::string& name) const {
    const auto found = selection_.components.find(name);
    return found != selection_.components.end() ? found->second.action : kStateUnknown;
}

int Session::FeatureInstalled(const std::string& name) const {
    const auto found = selection_.features.find(name);
    return found != selection_.features.end() ? found->second.installed : kStateUnknown;
}

int Session::FeatureAction(const std::string& name) const {
    const auto found = selection_.features.find(name);
    return found != selection_.features.end() ? found->second.action : kStateUnknown;
}

std::string Session::FilePath(const std::string& fileKey) const {
    for (const PackageFile& file : package_.Files()) {
        if (file.key == fileKey) {
            return layout_.FilePath(file);
        }
    }
    return {};
}

std::string Session::ComponentFolder(const std::string& component) const {
    return layout_.Folder(package_.ComponentDirectory(component)) + "/";
}

// ---- the run ----

std::uint32_t Session::Refusal() {
    const auto refuse = [this](const std::string& what) {
        log_.Line("MSI (s): This installer cannot act on %s of the package: nothing was changed.",
                  what.c_str());
        return kInstallFailure;
    };
    if (!package_.Unsupported().empty()) {
        return refuse(package_.Unsupported());
    }
    for (const SequenceRow& row : package_.ExecuteSequence()) {
        const auto custom = package_.CustomActions().find(row.action);
        if (custom != package_.CustomActions().end()) {
            const int base = custom->second.type & kBaseTypeMask;
            if (!IsRunnableType(base) || (custom->second.type & kAsync) != 0) {
                return refuse("the custom action " + row.action + " (type " +
                              std::to_string(custom->second.type) + ")");
            }
        } else if (!IsQuietStandardAction(row.action) && !IsActingStandardAction(row.action)) {
            return refuse("the action " + row.action);
        }
    }
    return kSuccess;
}

void Session::SetSystemProperties(const Record* installed) {
    const std::string root = InstallRoot();
    const auto set = [this](const std::string& name, const std::string& value) {
        if (commandLine_.count(name) == 0) {
            properties_[name] = value;
        }
    };
    for (const auto& [key, folder] : KnownFolders()) {
        set(key, std::string(root).append("/").append(folder).append("/"));
    }
    set("TempFolder", stdfs::temp_directory_path().string() + "/");
    set("VersionNT", "603");
    set("VersionNT64", "603");
    set("WindowsBuild", "9600");
    set("ServicePackLevel", "0");
    set("VersionMsi", "5.00");
    set("Msix64", "6");
    set("Intel", "6");
    set("Privileged", "1");
    set("AdminUser", "1");
    set("MsiNTProductType", "1");
    set("UILevel", std::to_string(UiLevel() & 0x7));
    if (installed != nullptr) {
        set("Installed", "1");
        set("ProductState", "5");
    } else {
        properties_.erase("Installed");
        set("ProductState", "-1");
    }
    if (Get(properties_, "REINSTALLMODE").empty()) {
        properties_["REINSTALLMODE"] = "omus";
    }
}

std::uint32_t Session::Install(const std::string& packagePath, const Record* installed) {
    const std::string name = package_.Property("ProductName");
    log_.Line("MSI (s): %s product %s (%s), version %s",
              installed != nullptr ? "Configuring" : "Installing", name.c_str(),
              package_.Property("ProductCode").c_str(),
              package_.Property("ProductVersion").c_str());
    if ((UiLevel() & 0x7) != kUiNone && !quiet_) {
        log_.Line(
            "MSI (s): No user interface is shown on this system: the installation runs as "
            "with /qn.");
    }
    if (const std::uint32_t refused = Refusal(); refused != kSuccess) {
        return refused;
    }
    SetSystemProperties(installed);
    properties_["SourceDir"] = stdfs::path(packagePath).parent_path().string() + "/";
    properties_["OriginalDatabase"] = packagePath;
    if (installed != nullptr) {
        record_ = *installed;
    }
    record_.files.clear();
    const std::uint32_t result = RunSequence();
    if (!stage_.empty()) {
        std::error_code ignored;
        stdfs::remove_all(stage_, ignored);
    }
    if (result == kSuccess && !RecordProduct(packagePath)) {
        log_.Line("MSI (s): cannot record the product");
        return kInstallFailure;
    }
    if (result != kSuccess) {
        const bool cancelled = ui_.Cancelled();
        log_.Line("MSI (s): Product: %s -- Installation failed.", name.c_str());
        log_.Line("MSI (s): Installation success or error status: %u.",
                  cancelled ? kUserExit : result);
        return cancelled ? kUserExit : result;
    }
    if (!quiet_) {
        ui_.Send(kMessageTerminate, "");
    }
    const std::string reboot = Get(properties_, "REBOOT");
    const bool restart = (rebootScheduled_ || reboot == "Force" || reboot == "F");
    const std::uint32_t code = restart ? kRebootRequired : kSuccess;
    log_.Line("MSI (s): Product: %s -- %s completed successfully.", name.c_str(),
              installed != nullptr ? "Configuration" : "Installation");
    log_.Line(
        "MSI (s): Windows Installer %s the product. Product Name: %s. Product Version: %s. "
        "Installation success or error status: %u.",
        installed != nullptr ? "reconfigured" : "installed", name.c_str(),
        package_.Property("ProductVersion").c_str(), code);
    return code;
}

std::uint32_t Session::RunSequence() {
    std::vector<SequenceRow> rows = package_.ExecuteSequence();
    if (rows.empty()) {
        for (const std::string& action : DefaultSequence()) {
            rows.push_back({action, "", 0});
        }
    }
    // The first reset ends the script's making; the second, with the total,
    // starts its run (where files are copied or removed).
    if (!quiet_ && !ui_.Progress(0, 0)) {
        return kUserExit;
    }
    for (const SequenceRow& row : rows) {
        const ConditionResult condition = EvaluateCondition(row.condition, *this);
        if (condition == ConditionResult::Error) {
            log_.Line("MSI (s): The condition of %s cannot be read: %s", row.action.c_str(),
                      row.condition.c_str());
            return kInstallFailure;
        }
        if (condition == ConditionResult::False) {
            log_.Line("MSI (s): Skipping action: %s (condition is false)", row.action.c_str());
            continue;
        }
        log_.Line("MSI (s): Doing action: %s", row.action.c_str());
        const std::uint32_t result = RunAction(row.action);
        if (result != kSuccess) {
            log_.Line("MSI (s): Action ended: %s. Return value 3.", row.action.c_str());
            return result;
        }
    }
    return kSuccess;
}

std::uint32_t Session::RunAction(const std::string& action) {
    const auto done = [this](bool ok) {
        return ok ? kSuccess : (ui_.Cancelled() ? kUserExit : kInstallFailure);
    };
    if (const auto custom = package_.CustomActions().find(action);
        custom != package_.CustomActions().end()) {
        return RunCustomAction(custom->second);
    }
    if (action == "AppSearch") {
        if (!removing_) {
            AppSearch();
        }
        return kSuccess;
    }
    if (action == "LaunchConditions") {
        return removing_ ? kSuccess : LaunchConditions();
    }
    if (action == "FindRelatedProducts") {
        FindRelatedProducts();
        return kSuccess;
    }
    if (action == "CostFinalize") {
        SelectItems();
        return kSuccess;
    }
    if (!costed_ && !IsQuietStandardAction(action)) {
        SelectItems();  // a sequence that acts before costing
    }
    if (action == "RemoveExistingProducts") {
        return RemoveExistingProducts();
    }
    if (action == "RemoveRegistryValues") {
        return done(RemoveRegistryValues());
    }
    if (action == "RemoveShortcuts") {
        return done(RemoveShortcuts());
    }
    if (action == "RemoveFiles") {
        return done(RemoveFiles());
    }
    if (action == "RemoveFolders") {
        return done(RemoveFolders());
    }
    if (action == "CreateFolders") {
        return done(CreateFolders());
    }
    if (action == "InstallFiles") {
        filesPlaced_ = true;
        return done(InstallFiles());
    }
    if (action == "CreateShortcuts") {
        return done(CreateShortcuts());
    }
    if (action == "WriteEnvironmentStrings") {
        return done(WriteEnvironmentStrings());
    }
    if (action == "RemoveEnvironmentStrings") {
        return done(RemoveEnvironmentStrings());
    }
    if (action == "WriteRegistryValues") {
        return done(WriteRegistryValues());
    }
    if (action == "ScheduleReboot" || action == "ForceReboot") {
        rebootScheduled_ = true;
    }
    return kSuccess;
}

std::uint32_t Session::RunCustomAction(const CustomActionRow& action) {
    const int base = action.type & kBaseTypeMask;
    if ((action.type & kRollbackOnly) != 0 && (action.type & kCommitOnly) == 0) {
        return kSuccess;  // runs only when an installation is undone
    }
    if (base == 51) {
        properties_[action.source] = FormatText(action.target, *this);
        log_.Line("MSI (s): PROPERTY CHANGE: %s is now '%s'", action.source.c_str(),
                  properties_[action.source].c_str());
        return kSuccess;
    }
    if (base == 35) {
        std::string folder = FormatText(action.target, *this);
        if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') {
            folder += '/';
        }
        properties_[action.source] = folder;
        givenFolders_.insert(action.source);
        if (costed_) {
            ResolveFolders();  // the folders below it move with it
        }
        return kSuccess;
    }
    if (base == 19) {
        const std::string message = FormatText(action.target, *this);
        log_.Line("MSI (s): Product: %s -- %s", package_.Property("ProductName").c_str(),
                  message.c_str());
        if (!quiet_) {
            ui_.Send(kMessageError, message);
        }
        return kInstallFailure;
    }
    return RunProgram(action);
}

std::uint32_t Session::RunProgram(const CustomActionRow& action) {
    const int base = action.type & kBaseTypeMask;
    std::string program;
    std::string scratch;
    if (base == 2) {
        if (stage_.empty() ||
            !package_.ExtractBinary(action.source, stage_ + "/binary-" + action.source)) {
            log_.Line("MSI (s): The custom action %s cannot unpack %s", action.action.c_str(),
                      action.source.c_str());
            return kInstallFailure;
        }
        program = stage_ + "/binary-" + action.source;
        fs::MarkExecutable(program);
    } else if (base == 18) {
        program = FilePath(action.source);
    } else if (base == 34) {
        program.clear();  // the command line names it; it runs in that folder
    } else {
        program = Get(properties_, action.source);
    }
    const std::string commandLine = FormatText(action.target, *this);
    const std::string folder =
        base == 34 ? layout_.Folder(action.source) : stdfs::temp_directory_path().string();
    if (!program.empty() && !IsProgram(program)) {
        log_.Line("MSI (s): The custom action %s names %s, which is no program of this system",
                  action.action.c_str(), program.c_str());
        return kInstallFailure;
    }
    std::uint32_t exitCode = 0;
    const std::string line =
        program.empty() ? commandLine : QuoteArgument(program) + " " + commandLine;
    if (!process::RunProcess(program, line, folder, true, exitCode)) {
        log_.Line("MSI (s): The custom action %s could not start %s", action.action.c_str(),
                  line.c_str());
        return kInstallFailure;
    }
    log_.Line("MSI (s): Custom action %s returned %u", action.action.c_str(), exitCode);
    if (exitCode != 0 && (action.type & kContinueOnReturn) == 0) {
        return kInstallFailure;
    }
    return kSuccess;
}

std::uint32_t Session::LaunchConditions() {
    for (const LaunchConditionRow& row : package_.LaunchConditions()) {
        if (!ConditionHolds(row.condition, *this)) {
            const std::string message = FormatText(row.description, *this);
            log_.Line("MSI (s): Product: %s -- %s", package_.Property("ProductName").c_str(),
                      message.c_str());
            if (!quiet_) {
                ui_.Send(kMessageError, message);
            }
            return kInstallFailure;
        }
    }
    return kSuccess;
}

void Session::FindRelatedProducts() {
    if (removing_ || !Get(properties_, "Installed").empty()) {
        return;
    }
    const std::string code = package_.Property("ProductCode");
    for (const UpgradeRow& row : package_.Upgrades()) {
        for (const Record& other : RecordsOfUpgradeCode(row.upgradeCode)) {
            if (other.code == code) {
                continue;
            }
            const int low =
                row.versionMin.empty() ? 1 : CompareVersions(other.version, row.versionMin);
            const int high =
                row.versionMax.empty() ? -1 : CompareVersions(other.version, row.versionMax);
            const bool aboveMin = row.versionMin.empty() || low > 0 ||
                                  (low == 0 && (row.attributes & UpgradeRow::kVersionMinInclusive));
            const bool belowMax =
                row.versionMax.empty() || high < 0 ||
                (high == 0 && (row.attributes & UpgradeRow::kVersionMaxInclusive));
            if (!aboveMin || !belowMax || row.actionProperty.empty()) {
                continue;
            }
            std::string& found = properties_[row.actionProperty];
            if (found.find(other.code) == std::string::npos) {
                found += (found.empty() ? "" : ";") + other.code;
            }
            log_.Line("MSI (s): Found related product %s (version %s) for %s", other.code.c_str(),
                      other.version.c_str(), row.actionProperty.c_str());
        }
    }
}

std::uint32_t Session::RemoveExistingProducts() {
    if (removing_) {
        return kSuccess;
    }
    // What this installation has put in place already stays; before that,
    // the older product goes whole and the files come anew.
    std::set<std::string> keep = keep_;
    for (const InstalledItem& item : record_.items) {
        if (filesPlaced_ && item.kind == Kind::File && !item.fields.empty()) {
            keep.insert(item.fields[0]);
        }
    }
    for (const UpgradeRow& row : package_.Upgrades()) {
        if ((row.attributes & UpgradeRow::kOnlyDetect) != 0 || row.actionProperty.empty()) {
            continue;
        }
        std::string list = Get(properties_, row.actionProperty);
        for (std::size_t start = 0; start < list.size();) {
            std::size_t end = list.find(';', start);
            end = end == std::string::npos ? list.size() : end;
            const std::string code = list.substr(start, end - start);
            start = end + 1;
            Record older;
            if (code.empty() || !FindRecord(code, older)) {
                continue;
            }
            Package olderPackage;
            const bool havePackage = olderPackage.Load(older.localPackage);
            Session removal(olderPackage, ParseProperties(older.properties + " REMOVE=ALL"),
                            changes_, true);
            // What this installation keeps or brings is not the older product's to take.
            for (const auto& [key, state] : selection_.components) {
                if (state.Ends()) {
                    removal.heldByCaller_.insert(ComponentIdentity(key));
                }
            }
            const std::uint32_t result = removal.Remove(older, havePackage, keep);
            if (result != kSuccess) {
                log_.Line("MSI (s): The older product %s could not be removed: %u", code.c_str(),
                          result);
                return kInstallFailure;
            }
        }
    }
    return kSuccess;
}

std::uint32_t Session::Remove(const Record& installed, bool havePackage,
                              const std::set<std::string>& keep) {
    removing_ = true;
    keep_ = keep;
    record_ = installed;
    log_.Line("MSI (s): Removing product %s (%s)", installed.name.c_str(), installed.code.c_str());
    properties_["REMOVE"] = "ALL";
    std::uint32_t result = kSuccess;
    if (havePackage) {
        if (const std::uint32_t refused = Refusal(); refused != kSuccess) {
            return refused;
        }
        SetSystemProperties(&installed);
        result = RunSequence();
        if (!stage_.empty()) {
            std::error_code ignored;
            stdfs::remove_all(stage_, ignored);
        }
    } else {
        // Without its package, the record says what the product put in place.
        costed_ = true;
        for (const InstalledItem& item : installed.items) {
            selection_.components[item.component] = {kStateLocal, kStateAbsent};
        }
        if (!(RemoveShortcuts() && RemoveRegistryValues() && RemoveEnvironmentStrings() &&
              RemoveFiles() && RemoveFolders())) {
            result = kInstallFailure;
        }
    }
    // Records older than their items list the files alone.
    if (result == kSuccess && installed.items.empty()) {
        for (const std::string& file : installed.files) {
            if (keep_.count(file) == 0 && !changes_.RemoveFile(file)) {
                result = kInstallFailure;
            }
        }
    }
    if (result == kSuccess) {
        for (const std::string& file : installed.files) {
            for (stdfs::path folder = stdfs::path(file).parent_path();
                 IsInside(folder.string(), installed.location) && fs::IsFolder(folder.string()) &&
                 stdfs::is_empty(folder) && changes_.RemoveEmptyFolder(folder.string());
                 folder = folder.parent_path()) {
            }
        }
    }
    if (result != kSuccess || !DeleteRecord(changes_, installed)) {
        log_.Line("MSI (s): Product: %s -- Removal failed.", installed.name.c_str());
        return result != kSuccess ? result : kInstallFailure;
    }
    if (!installed.localPackage.empty() &&
        installed.localPackage.find("/Installer/") != std::string::npos) {
        changes_.RemoveFile(installed.localPackage);
    }
    log_.Line("MSI (s): Product: %s -- Removal completed successfully.", installed.name.c_str());
    log_.Line(
        "MSI (s): Windows Installer removed the product. Product Name: %s. Product "
        "Version: %s. Installation success or error status: 0.",
        installed.name.c_str(), installed.version.c_str());
    if (!quiet_) {
        ui_.Send(kMessageTerminate, "");
    }
    return kSuccess;
}

// ---- costing: folders and what is installed ----

// Directory keys become properties of their folders (with a trailing
// separator). Those given (Property table, command line, known folders, a
// folder action) hold; the others follow their parents.
void Session::ResolveFolders() {
    if (!foldersFound_) {
        foldersFound_ = true;
        for (const auto& [key, directory] : package_.Directories()) {
            if (!Get(properties_, key).empty()) {
                givenFolders_.insert(key);
            }
        }
    }
    for (const auto& [key, directory] : package_.Directories()) {
        if (givenFolders_.count(key) == 0) {
            properties_.erase(key);
        }
    }
    layout_.Reset();
    for (const auto& [key, directory] : package_.Directories()) {
        properties_[key] = layout_.Folder(key) + "/";
    }
}

void Session::SelectItems() {
    costed_ = true;
    // A folder given as formatted text ("[ProgramFilesFolder]Brindlemark").
    for (const auto& [key, value] : commandLine_) {
        if (package_.Directories().count(key) != 0 && value.find('[') != std::string::npos) {
            properties_[key] = FormatText(value, *this);
        }
    }
    ResolveFolders();
    std::set<std::string> installedComponents;
    for (const InstalledItem& item : record_.items) {
        installedComponents.insert(item.component);
    }
    // A product recorded before features were kept had them all.
    std::set<std::string> installedFeatures = record_.features;
    if (!record_.code.empty() && installedFeatures.empty()) {
        for (const PackageFeature& feature : package_.Features()) {
            installedFeatures.insert(feature.key);
        }
        for (const auto& [key, component] : package_.Components()) {
            installedComponents.insert(key);
        }
    }
    selection_ = SelectFeatures(package_, installedFeatures, installedComponents, *this);
    if (removing_) {
        for (auto& [key, state] : selection_.features) {
            state.action = state.installed == kStateLocal ? kStateAbsent : kStateUnknown;
        }
        for (auto& [key, state] : selection_.components) {
            state.action = state.installed == kStateLocal ? kStateAbsent : kStateUnknown;
        }
    }
    KeepSharedComponents();
}

// A component is the same installed thing for two products when its GUID
// and its folder are.
std::string Session::ComponentIdentity(const std::string& key) const {
    const auto component = package_.Components().find(key);
    if (component == package_.Components().end() || component->second.id.empty()) {
        return {};
    }
    return component->second.id + "|" + layout_.Folder(component->second.directory);
}

// A component going that another installed product also holds stays in
// place: it is that product's too.
void Session::KeepSharedComponents() {
    std::set<std::string> elsewhere = heldByCaller_;
    bool read = false;
    for (auto& [key, state] : selection_.components) {
        const std::string identity = ComponentIdentity(key);
        if (state.action != kStateAbsent || identity.empty()) {
            continue;
        }
        if (!read) {
            read = true;
            for (const Record& other : AllRecords()) {
                if (other.code != package_.Property("ProductCode")) {
                    elsewhere.insert(other.componentIds.begin(), other.componentIds.end());
                }
            }
        }
        if (elsewhere.count(identity) != 0) {
            log_.Line("MSI (s): The component %s stays: another product holds it", key.c_str());
            state.action = kStateUnknown;
            state.installed = kStateAbsent;  // no longer this product's
        }
    }
}

bool Session::Installing(const std::string& component) const {
    return ComponentAction(component) == kStateLocal;
}

bool Session::Removing(const std::string& component) const {
    return ComponentAction(component) == kStateAbsent;
}

// An installed component that stays, in a repair.
bool Session::Reinstalling(const std::string& component) const {
    const std::string reinstall = Get(properties_, "REINSTALL");
    if (reinstall.empty() || ComponentInstalled(component) != kStateLocal ||
        ComponentAction(component) != kStateUnknown) {
        return false;
    }
    if (reinstall == "ALL") {
        return true;
    }
    // A list of features: the components of those named.
    const std::string list = "," + reinstall + ",";
    return std::any_of(package_.FeatureComponents().begin(), package_.FeatureComponents().end(),
                       [&](const auto& pair) {
                           return pair.second == component &&
                                  list.find("," + pair.first + ",") != std::string::npos;
                       });
}

fs::Readers Session::Readers() const {
    const std::string allUsers = Get(properties_, "ALLUSERS");
    return allUsers == "1" || allUsers == "2" ? fs::Readers::kEveryone : fs::Readers::kOwner;
}

void Session::ForgetRemoved(std::initializer_list<Kind> kinds) {
    auto& items = record_.items;
    items.erase(std::remove_if(items.begin(), items.end(),
                               [&](const InstalledItem& item) {
                                   return std::find(kinds.begin(), kinds.end(), item.kind) !=
                                              kinds.end() &&
                                          Removing(item.component);
                               }),
                items.end());
}

void Session::Note(const std::string& component, Kind kind, std::vector<std::string> fields) {
    auto& items = record_.items;
    items.erase(std::remove_if(items.begin(), items.end(),
                               [&](const InstalledItem& item) {
                                   if (item.kind != kind || item.fields.empty() || fields.empty()) {
                                       return false;
                                   }
                                   // A file is one item whatever its content.
                                   return kind == Kind::File ? item.fields[0] == fields[0]
                                                             : item.fields == fields;
                               }),
                items.end());
    items.push_back({component, kind, std::move(fields)});
}

// ---- the record ----

bool Session::RecordProduct(const std::string& packagePath) {
    record_.root = RootFor(Get(properties_, "ALLUSERS"));
    record_.code = package_.Property("ProductCode");
    record_.name = package_.Property("ProductName");
    record_.version = package_.Property("ProductVersion");
    record_.upgradeCode = package_.Property("UpgradeCode");
    record_.is64Bit = package_.Is64Bit();
    record_.location = layout_.Folder(properties_.count("INSTALLDIR") != 0 ||
                                              package_.Directories().count("INSTALLDIR") != 0
                                          ? "INSTALLDIR"
                                          : "TARGETDIR");
    record_.features.clear();
    for (const auto& [key, state] : selection_.features) {
        if (state.Ends()) {
            record_.features.insert(key);
        }
    }
    record_.componentIds.clear();
    for (const auto& [key, state] : selection_.components) {
        if (const std::string identity = ComponentIdentity(key);
            state.Ends() && !identity.empty()) {
            record_.componentIds.insert(identity);
        }
    }
    // Items of components no longer this product's go from its record.
    record_.items.erase(
        std::remove_if(record_.items.begin(), record_.items.end(),
                       [this](const InstalledItem& item) {
                           const auto found = selection_.components.find(item.component);
                           return found != selection_.components.end() && !found->second.Ends();
                       }),
        record_.items.end());
    record_.files.clear();
    record_.bytes = 0;
    for (const InstalledItem& item : record_.items) {
        if (item.kind == Kind::File && !item.fields.empty()) {
            record_.files.push_back(item.fields[0]);
        }
    }
    for (const PackageFile& file : package_.Files()) {
        if (selection_.components.count(file.component) != 0 &&
            selection_.components[file.component].Ends()) {
            record_.bytes += file.size;
        }
    }
    for (const char* name :
         {"Manufacturer", "ProductLanguage", "SourceDir", "ARPCOMMENTS", "ARPCONTACT",
          "ARPHELPLINK", "ARPHELPTELEPHONE", "ARPURLINFOABOUT", "ARPURLUPDATEINFO", "ARPREADME",
          "ARPNOMODIFY", "ARPNOREPAIR", "ARPNOREMOVE", "ARPSYSTEMCOMPONENT"}) {
        if (std::string_view(name) == "SourceDir" && record_.entry.count(name) != 0) {
            continue;  // where the product first came from stays its source
        }
        if (const std::string value = Get(properties_, name); !value.empty()) {
            record_.entry[name] = value;
        } else {
            record_.entry.erase(name);
        }
    }
    record_.properties.clear();
    for (const auto& [key, value] : commandLine_) {
        if (!key.empty() && key != "REINSTALL" && key != "REMOVE" && key != "ADDLOCAL" &&
            key != "REINSTALLMODE" && key != "_IsMaintenance" &&
            std::isupper(static_cast<unsigned char>(key[0])) &&
            package_.Properties().count(key) == 0) {
            record_.properties += key + "=" + QuoteArgument(value) + " ";
        }
    }
    // Nothing of the product left: it is removed, not recorded empty.
    if (record_.features.empty()) {
        return DeleteRecord(changes_, record_);
    }
    const std::string cache = CacheFolder();
    const std::string cached = cache.empty() ? packagePath : cache + "/" + record_.code + ".msi";
    if (cached != packagePath && (record_.localPackage != cached || !fs::Exists(cached)) &&
        !changes_.PlaceFile(packagePath, cached, fs::Readers::kOwner, false)) {
        return false;
    }
    record_.localPackage = cached;
    return WriteRecord(changes_, record_);
}

}  // namespace stubframework::platform::msi::detail
