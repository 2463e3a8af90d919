#include "platform/posix/msi/Session.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/commandline.h"
#include "platform/crypto.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/posix/msi/Shortcuts.h"
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
        "AppSearch",
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
        "ScheduleReboot",       "ForceReboot",
    };
    return actions.count(action) != 0;
}

// The order of a package that has no sequence of its own.
const std::vector<std::string>& DefaultSequence() {
    static const std::vector<std::string> actions = {
        "LaunchConditions", "FindRelatedProducts",  "CostInitialize",    "FileCost",
        "CostFinalize",     "InstallValidate",      "InstallInitialize", "RemoveExistingProducts",
        "RemoveShortcuts",  "RemoveRegistryValues", "RemoveFiles",       "RemoveFolders",
        "CreateFolders",    "InstallFiles",         "CreateShortcuts",   "WriteRegistryValues",
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

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::string ContentHash(const std::string& path) {
    std::string content;
    if (fs::File file(std::fopen(path.c_str(), "rb")); file) {
        char buffer[65536];
        for (std::size_t read = 0; (read = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;) {
            content.append(buffer, read);
        }
    } else {
        return {};
    }
    platform::crypto::Sha256Digest digest{};
    if (!platform::crypto::Sha256(content.data(), content.size(), digest)) {
        return {};
    }
    return Hex({digest.begin(), digest.end()});
}

// ELF programs and scripts run; anything else is data.
bool IsProgram(const std::string& path) {
    fs::File file(std::fopen(path.c_str(), "rb"));
    char head[4] = {};
    const std::size_t read = file ? std::fread(head, 1, sizeof head, file.get()) : 0;
    return (read >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') ||
           (read >= 2 && head[0] == '#' && head[1] == '!');
}

// Registry data for a Registry-table value: "#x" binary, "#%" expandable,
// "#123" a number, "##" a text starting with "#", "[~]" in a text a list.
bool RegistryData(const std::string& value, std::uint32_t& type, std::vector<std::uint8_t>& data) {
    if (value.rfind("#x", 0) == 0 || value.rfind("#X", 0) == 0) {
        type = reg::kRegBinary;
        const std::string digits = value.substr(2);
        if (digits.size() % 2 != 0) {
            return false;
        }
        for (std::size_t at = 0; at < digits.size(); at += 2) {
            char* end = nullptr;
            const std::string pair = digits.substr(at, 2);
            const long byte = std::strtol(pair.c_str(), &end, 16);
            if (*end != '\0') {
                return false;
            }
            data.push_back(static_cast<std::uint8_t>(byte));
        }
        return true;
    }
    if (value.rfind("#%", 0) == 0) {
        type = reg::kRegExpandSz;
        data = reg::TextData(value.substr(2));
        return true;
    }
    if (value.rfind("##", 0) == 0) {
        type = reg::kRegSz;
        data = reg::TextData(value.substr(1));
        return true;
    }
    if (value.rfind('#', 0) == 0) {
        char* end = nullptr;
        const long long number = std::strtoll(value.c_str() + 1, &end, 10);
        if (value.size() == 1 || *end != '\0') {
            return false;
        }
        type = reg::kRegDword;
        const auto dword = static_cast<std::uint32_t>(number);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&dword);
        data.assign(bytes, bytes + 4);
        return true;
    }
    if (value.find('\0') != std::string::npos) {
        type = reg::kRegMultiSz;
        std::size_t start = 0;
        for (std::size_t at = 0; at <= value.size(); ++at) {
            if (at == value.size() || value[at] == '\0') {
                if (at > start) {
                    const std::vector<std::uint8_t> text =
                        reg::TextData(value.substr(start, at - start));
                    data.insert(data.end(), text.begin(), text.end());
                }
                start = at + 1;
            }
        }
        data.push_back(0);
        data.push_back(0);
        return true;
    }
    type = reg::kRegSz;
    data = reg::TextData(value);
    return true;
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
            return const_cast<Layout&>(layout_).FilePath(file);
        }
    }
    return {};
}

std::string Session::ComponentFolder(const std::string& component) const {
    return const_cast<Layout&>(layout_).Folder(package_.ComponentDirectory(component)) + "/";
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
        properties_[action.source] = FormatText(action.target, *this);
        layout_.Reset();
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

void Session::SelectItems() {
    costed_ = true;
    // A folder given as formatted text ("[ProgramFilesFolder]Brindlemark").
    for (const auto& [key, value] : commandLine_) {
        if (package_.Directories().count(key) != 0 && value.find('[') != std::string::npos) {
            properties_[key] = FormatText(value, *this);
        }
    }
    layout_.Reset();
    for (const auto& [key, directory] : package_.Directories()) {
        properties_[key] = layout_.Folder(key) + "/";
    }
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
    return !reinstall.empty() && ComponentInstalled(component) == kStateLocal &&
           ComponentAction(component) == kStateUnknown;
}

fs::Readers Session::Readers() const {
    const std::string allUsers = Get(properties_, "ALLUSERS");
    return allUsers == "1" || allUsers == "2" ? fs::Readers::kEveryone : fs::Readers::kOwner;
}

void Session::Note(const std::string& component, Kind kind, std::vector<std::string> fields) {
    auto& items = record_.items;
    items.erase(std::remove_if(items.begin(), items.end(),
                               [&](const InstalledItem& item) {
                                   return item.kind == kind && item.fields.size() >= 1 &&
                                          fields.size() >= 1 && item.fields == fields;
                               }),
                items.end());
    items.push_back({component, kind, std::move(fields)});
}

// ---- files and folders ----

bool Session::WantsFile(const PackageFile& file, const std::string& target,
                        const std::string& staged) {
    // A component new to the product takes its place (what was there is
    // kept aside until the installation is done).
    if (Installing(file.component)) {
        return true;
    }
    const std::string mode = Get(properties_, "REINSTALLMODE");
    const auto has = [&mode](char letter) {
        return mode.find(letter) != std::string::npos ||
               mode.find(static_cast<char>(std::toupper(letter))) != std::string::npos;
    };
    if (!fs::Exists(target)) {
        return true;
    }
    if (has('a')) {
        return true;
    }
    // What the user changed since it was installed stays theirs.
    std::string installedHash;
    std::string installedVersion;
    for (const InstalledItem& item : record_.items) {
        if (item.kind == Kind::File && item.fields.size() > 2 && item.fields[0] == target) {
            installedHash = item.fields[1];
            installedVersion = item.fields[2];
        }
    }
    const std::string current = ContentHash(target);
    if (file.version.empty()) {
        if (!installedHash.empty() && current != installedHash) {
            log_.Line("MSI (s): %s was changed since it was installed: it is kept", target.c_str());
            return false;
        }
        return has('c') && current != ContentHash(staged);
    }
    // A versioned file: never replaced by an older one.
    if (!installedVersion.empty()) {
        const int order = CompareVersions(file.version, installedVersion);
        if (order < 0) {
            log_.Line("MSI (s): %s is newer (%s) than the package's (%s): it is kept",
                      target.c_str(), installedVersion.c_str(), file.version.c_str());
            return false;
        }
        return order > 0 ? has('o') || has('e') || has('d') : has('e');
    }
    return has('o') || has('e') || has('d') || (has('c') && current != ContentHash(staged));
}

bool Session::InstallFiles() {
    std::vector<const PackageFile*> files;
    std::int64_t total = 0;
    for (const PackageFile& file : package_.Files()) {
        if (Installing(file.component) || Reinstalling(file.component)) {
            files.push_back(&file);
            total += file.size;
        }
    }
    if (files.empty()) {
        return true;
    }
    if (stage_.empty()) {
        stage_ = stdfs::temp_directory_path().string() + "/stub-msi-XXXXXX";
        if (mkdtemp(stage_.data()) == nullptr) {
            stage_.clear();
            log_.Line("MSI (s): cannot make a staging folder");
            return false;
        }
    }
    if (!package_.ExtractFiles(stage_)) {
        log_.Line("MSI (s): %s", package_.Error().c_str());
        return false;
    }
    if (!quiet_ &&
        (!ui_.Progress(0, total, 0, 1) ||
         !ui_.Send(kMessageActionStart, "Action " + Now() + ": InstallFiles. Copying new files"))) {
        return false;
    }
    for (const PackageFile* file : files) {
        const std::string target = layout_.FilePath(*file);
        const std::string staged = stage_ + "/" + file->key;
        if (!IsPlainName(file->key) || !IsPlainName(file->name)) {
            log_.Line("MSI (s): cannot install file %s to %s", file->key.c_str(), target.c_str());
            return false;
        }
        if (WantsFile(*file, target, staged)) {
            if (!changes_.PlaceFile(staged, target, Readers(), IsProgram(staged))) {
                log_.Line("MSI (s): cannot install file %s to %s", file->key.c_str(),
                          target.c_str());
                return false;
            }
            log_.Line("MSI (s): Installed file %s", target.c_str());
            Note(file->component, Kind::File,
                 {target, file->version.empty() ? ContentHash(target) : std::string(),
                  file->version});
        } else if (Installing(file->component)) {
            Note(file->component, Kind::File, {target, "", ""});
        }
        if (!quiet_ && (!ui_.Send(kMessageActionData,
                                  "File: " + file->name +
                                      ",  Directory: " + target.substr(0, target.rfind('/')) +
                                      ",  Size: " + std::to_string(file->size)) ||
                        !ui_.Progress(2, file->size))) {
            return false;
        }
    }
    return true;
}

bool Session::RemoveFiles() {
    // RemoveFile rows: on installation for components coming, on removal
    // for components going.
    for (const RemoveFileRow& row : package_.RemoveFiles()) {
        const bool now = (Installing(row.component) && (row.mode & RemoveFileRow::kOnInstall)) ||
                         (Removing(row.component) && (row.mode & RemoveFileRow::kOnRemove));
        if (!now || row.fileName.empty()) {
            continue;
        }
        std::string folder = Get(properties_, row.directory);
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        if (folder.empty() || !IsPlainName(row.fileName) ||
            row.fileName.find_first_of("*?") != std::string::npos) {
            // Wildcards match within the folder only.
            std::vector<fs::FolderEntry> entries;
            if (folder.empty() || fs::ListFolder(folder, entries) != kErrorSuccess) {
                continue;
            }
            for (const fs::FolderEntry& entry : entries) {
                if (!entry.isFolder && WildcardMatch(row.fileName, entry.name) &&
                    !changes_.RemoveFile(folder + "/" + entry.name)) {
                    return false;
                }
            }
            continue;
        }
        if (!changes_.RemoveFile(folder + "/" + row.fileName)) {
            return false;
        }
    }
    std::vector<std::string> going;
    for (const InstalledItem& item : record_.items) {
        if (item.kind == Kind::File && Removing(item.component) && !item.fields.empty()) {
            going.push_back(item.fields[0]);
        }
    }
    const bool report = removing_ && !quiet_;
    if (report && !ui_.Progress(0, static_cast<std::int64_t>(going.size()), 0, 1)) {
        return false;
    }
    for (const std::string& path : going) {
        if (keep_.count(path) == 0) {
            if (!changes_.RemoveFile(path)) {
                log_.Line("MSI (s): cannot remove %s", path.c_str());
                return false;
            }
            log_.Line("MSI (s): Removed file %s", path.c_str());
        }
        if (report && !ui_.Progress(2, 1)) {
            return false;
        }
    }
    record_.items.erase(std::remove_if(record_.items.begin(), record_.items.end(),
                                       [this](const InstalledItem& item) {
                                           return item.kind == Kind::File &&
                                                  Removing(item.component);
                                       }),
                        record_.items.end());
    return true;
}

bool Session::RemoveFolders() {
    std::vector<std::string> folders;
    for (const InstalledItem& item : record_.items) {
        if (item.kind == Kind::Folder && Removing(item.component) && !item.fields.empty()) {
            folders.push_back(item.fields[0]);
        }
    }
    for (const RemoveFileRow& row : package_.RemoveFiles()) {
        const bool now = (Installing(row.component) && (row.mode & RemoveFileRow::kOnInstall)) ||
                         (Removing(row.component) && (row.mode & RemoveFileRow::kOnRemove));
        if (now && row.fileName.empty()) {
            std::string folder = Get(properties_, row.directory);
            while (folder.size() > 1 && folder.back() == '/') {
                folder.pop_back();
            }
            if (!folder.empty()) {
                folders.push_back(folder);
            }
        }
    }
    // Deepest first; a folder that still holds something stays.
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& folder : folders) {
        std::error_code error;
        if (fs::IsFolder(folder) && stdfs::is_empty(folder, error)) {
            changes_.RemoveEmptyFolder(folder);
        }
    }
    record_.items.erase(std::remove_if(record_.items.begin(), record_.items.end(),
                                       [this](const InstalledItem& item) {
                                           return item.kind == Kind::Folder &&
                                                  Removing(item.component);
                                       }),
                        record_.items.end());
    return true;
}

bool Session::CreateFolders() {
    for (const CreateFolderRow& row : package_.CreateFolders()) {
        if (!Installing(row.component) && !Reinstalling(row.component)) {
            continue;
        }
        const std::string folder = layout_.Folder(row.directory);
        const bool existed = fs::IsFolder(folder);
        if (!changes_.MakeFolder(folder, Readers())) {
            log_.Line("MSI (s): cannot create the folder %s", folder.c_str());
            return false;
        }
        if (!existed) {
            Note(row.component, Kind::Folder, {folder});
        }
    }
    return true;
}

// ---- the registry ----

void Session::RegistryTarget(int root, const std::string& component, reg::Root& hive,
                             reg::View& view) const {
    const std::string allUsers = Get(properties_, "ALLUSERS");
    switch (root) {
        case 0:
            hive = reg::Root::ClassesRoot;
            break;
        case 1:
            hive = reg::Root::CurrentUser;
            break;
        case 2:
            hive = reg::Root::LocalMachine;
            break;
        case 3:
            hive = reg::Root::Users;
            break;
        default:
            hive = allUsers == "1" || allUsers == "2" ? reg::Root::LocalMachine
                                                      : reg::Root::CurrentUser;
    }
    const auto found = package_.Components().find(component);
    const bool wide = found != package_.Components().end() && found->second.Is64Bit();
    view = wide ? reg::View::Wow64_64 : reg::View::Wow64_32;
}

bool Session::WriteRegistryValues() {
    for (const RegistryRow& row : package_.Registry()) {
        if (!Installing(row.component) && !Reinstalling(row.component)) {
            continue;
        }
        reg::Root hive;
        reg::View view;
        RegistryTarget(row.root, row.component, hive, view);
        const std::string key = FormatText(row.path, *this);
        const std::string name = FormatText(row.name, *this);
        if (key.empty()) {
            continue;
        }
        // "+", "*" and "-" with no value speak of the key itself.
        if (!row.hasValue && (name == "+" || name == "*" || name == "-" || name.empty())) {
            if (name != "-") {
                const bool existed = [&] {
                    reg::Key handle;
                    return reg::OpenKey(hive, key, view, reg::Access::Read, handle) == 0;
                }();
                if (!changes_.CreateKey(hive, view, key)) {
                    return false;
                }
                if (!existed && name == "*") {
                    Note(row.component, Kind::Key,
                         {std::to_string(static_cast<int>(hive)),
                          std::to_string(static_cast<int>(view)), key});
                }
            }
            continue;
        }
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (!RegistryData(FormatText(row.value, *this), type, data)) {
            log_.Line("MSI (s): The registry value %s cannot be read: %s", row.key.c_str(),
                      row.value.c_str());
            return false;
        }
        const bool keyExisted = [&] {
            reg::Key handle;
            return reg::OpenKey(hive, key, view, reg::Access::Read, handle) == 0;
        }();
        if (!changes_.SetValue(hive, view, key, name, type, data)) {
            log_.Line("MSI (s): cannot write the registry value %s\\%s", key.c_str(), name.c_str());
            return false;
        }
        log_.Line("MSI (s): Wrote registry value %s\\%s\\%s", reg::RootName(hive), key.c_str(),
                  name.c_str());
        const std::string hiveText = std::to_string(static_cast<int>(hive));
        const std::string viewText = std::to_string(static_cast<int>(view));
        Note(row.component, Kind::Value, {hiveText, viewText, key, name});
        if (!keyExisted) {
            // Every key this installation made goes when it is empty again.
            for (std::string path = key; !path.empty();) {
                Note(row.component, Kind::Key, {hiveText, viewText, path});
                const std::size_t slash = path.rfind('\\');
                path = slash == std::string::npos ? std::string() : path.substr(0, slash);
                reg::Key handle;
                if (!path.empty() &&
                    reg::OpenKey(hive, path, view, reg::Access::Read, handle) == 0 &&
                    !changes_.CreateKey(hive, view, path)) {
                    break;
                }
            }
        }
    }
    return true;
}

bool Session::RemoveRegistryValues() {
    for (const RegistryRow& row : package_.RemoveRegistry()) {
        if (!Installing(row.component)) {
            continue;
        }
        reg::Root hive;
        reg::View view;
        RegistryTarget(row.root, row.component, hive, view);
        const std::string key = FormatText(row.path, *this);
        const std::string name = FormatText(row.name, *this);
        const bool removed = name == "-" ? changes_.DeleteTree(hive, view, key)
                                         : changes_.DeleteValue(hive, view, key, name);
        if (!removed) {
            return false;
        }
    }
    std::vector<InstalledItem> keys;
    for (const InstalledItem& item : record_.items) {
        if (!Removing(item.component) || item.fields.size() < 3) {
            continue;
        }
        const auto hive = static_cast<reg::Root>(std::atoi(item.fields[0].c_str()));
        const auto view = static_cast<reg::View>(std::atoi(item.fields[1].c_str()));
        if (item.kind == Kind::Value && item.fields.size() >= 4) {
            if (!changes_.DeleteValue(hive, view, item.fields[2], item.fields[3])) {
                return false;
            }
        } else if (item.kind == Kind::Key) {
            keys.push_back(item);
        }
    }
    // Keys made by the installation go once nothing else is in them, deepest first.
    std::sort(keys.begin(), keys.end(), [](const InstalledItem& a, const InstalledItem& b) {
        return a.fields[2].size() > b.fields[2].size();
    });
    for (const InstalledItem& item : keys) {
        const auto hive = static_cast<reg::Root>(std::atoi(item.fields[0].c_str()));
        const auto view = static_cast<reg::View>(std::atoi(item.fields[1].c_str()));
        reg::Key handle;
        std::string name;
        if (reg::OpenKey(hive, item.fields[2], view, reg::Access::Read, handle) == 0 &&
            reg::EnumKey(handle, 0, name) != 0 && reg::EnumValue(handle, 0, name) != 0) {
            handle.Close();
            changes_.DeleteTree(hive, view, item.fields[2]);
        }
    }
    record_.items.erase(
        std::remove_if(record_.items.begin(), record_.items.end(),
                       [this](const InstalledItem& item) {
                           return (item.kind == Kind::Value || item.kind == Kind::Key) &&
                                  Removing(item.component);
                       }),
        record_.items.end());
    return true;
}

// ---- environment variables ----

namespace {

constexpr const char* kUserEnvironment = "Environment";
constexpr const char* kSystemEnvironment =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

std::string EnvironmentKey(reg::Root root) {
    return root == reg::Root::LocalMachine ? kSystemEnvironment : kUserEnvironment;
}

std::optional<std::string> ReadVariable(reg::Root root, const std::string& name) {
    reg::Key handle;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (reg::OpenKey(root, EnvironmentKey(root), reg::View::Wow64_64, reg::Access::Read, handle) !=
            0 ||
        reg::QueryValue(handle, name, type, data) != 0) {
        return std::nullopt;
    }
    return reg::DataText(data);
}

bool WriteVariable(Transaction& changes, reg::Root root, const std::string& name,
                   const std::string& value) {
    const std::uint32_t type =
        value.find('%') != std::string::npos ? reg::kRegExpandSz : reg::kRegSz;
    return changes.SetValue(root, reg::View::Wow64_64, EnvironmentKey(root), name, type,
                            reg::TextData(value));
}

// A list of one part has no separator at either end.
std::string TrimSeparators(const std::string& text) {
    const std::size_t first = text.find_first_not_of(';');
    return first == std::string::npos ? std::string()
                                      : text.substr(first, text.find_last_not_of(';') + 1 - first);
}

}  // namespace

// Environment rows: "=" sets, "+" sets only a variable not there yet, "!"
// removes at installation, "*" names a system variable; a value that starts
// or ends with [~] is appended or prepended to what is there, with ";".
bool Session::WriteEnvironmentStrings() {
    for (const EnvironmentRow& row : package_.Environment()) {
        if (!Installing(row.component) && !Reinstalling(row.component)) {
            continue;
        }
        std::string name = row.name;
        const std::size_t flags = name.find_first_not_of("=+-!*");
        const std::string prefix = name.substr(0, flags == std::string::npos ? 0 : flags);
        name = flags == std::string::npos ? std::string() : name.substr(flags);
        if (name.empty()) {
            continue;
        }
        const reg::Root root = prefix.find('*') != std::string::npos ? reg::Root::LocalMachine
                                                                     : reg::Root::CurrentUser;
        const std::optional<std::string> current = ReadVariable(root, name);
        const std::string value = FormatText(row.value, *this);
        if (prefix.find('!') != std::string::npos) {
            if (current && (value.empty() || *current == value) &&
                !changes_.DeleteValue(root, reg::View::Wow64_64, EnvironmentKey(root), name)) {
                return false;
            }
            continue;
        }
        if (prefix.find('+') != std::string::npos && current) {
            continue;
        }
        std::string placement = "w";
        std::string part = value;
        std::string next = value;
        if (!value.empty() && value.front() == '\0') {
            placement = "a";
            part = value.substr(1);
            next = current && !current->empty() ? *current + part : TrimSeparators(part);
        } else if (!value.empty() && value.back() == '\0') {
            placement = "p";
            part = value.substr(0, value.size() - 1);
            next = current && !current->empty() ? part + *current : TrimSeparators(part);
        }
        if (!WriteVariable(changes_, root, name, next)) {
            return false;
        }
        Note(row.component, Kind::Environment,
             {std::to_string(static_cast<int>(root)), name, part, placement});
    }
    return true;
}

bool Session::RemoveEnvironmentStrings() {
    for (const InstalledItem& item : record_.items) {
        if (item.kind != Kind::Environment || !Removing(item.component) || item.fields.size() < 4) {
            continue;
        }
        const auto root = static_cast<reg::Root>(std::atoi(item.fields[0].c_str()));
        const std::string& name = item.fields[1];
        const std::string& part = item.fields[2];
        const std::optional<std::string> current = ReadVariable(root, name);
        if (!current) {
            continue;
        }
        std::string rest = *current;
        if (item.fields[3] != "w") {
            if (const std::size_t at = rest.find(part); at != std::string::npos) {
                rest.erase(at, part.size());
            }
        }
        const bool empty =
            item.fields[3] == "w" || rest.find_first_not_of(';') == std::string::npos;
        const bool done =
            empty ? changes_.DeleteValue(root, reg::View::Wow64_64, EnvironmentKey(root), name)
                  : WriteVariable(changes_, root, name, rest);
        if (!done) {
            return false;
        }
    }
    record_.items.erase(std::remove_if(record_.items.begin(), record_.items.end(),
                                       [this](const InstalledItem& item) {
                                           return item.kind == Kind::Environment &&
                                                  Removing(item.component);
                                       }),
                        record_.items.end());
    return true;
}

// ---- shortcuts ----

bool Session::CreateShortcuts() {
    for (const ShortcutRow& row : package_.Shortcuts()) {
        if (!Installing(row.component) && !Reinstalling(row.component)) {
            continue;
        }
        DesktopEntry entry;
        entry.name = row.name;
        entry.comment = FormatText(row.description, *this);
        entry.arguments = FormatText(row.arguments, *this);
        // An advertised shortcut names a feature: it starts its component's key file.
        const bool advertised = std::any_of(
            package_.Features().begin(), package_.Features().end(),
            [&row](const PackageFeature& feature) { return feature.key == row.target; });
        if (advertised) {
            const auto component = package_.Components().find(row.component);
            entry.target = component != package_.Components().end()
                               ? FilePath(component->second.keyPath)
                               : std::string();
        } else {
            entry.target = FormatText(row.target, *this);
        }
        entry.workingDirectory =
            row.workingDirectory.empty() ? std::string() : layout_.Folder(row.workingDirectory);
        const std::string path =
            WriteDesktopEntry(changes_, ShortcutPlace(layout_.Folder(row.directory)),
                              package_.Property("ProductCode") + "-" + row.key, entry);
        if (path.empty()) {
            log_.Line("MSI (s): cannot create the shortcut %s", row.key.c_str());
            return false;
        }
        log_.Line("MSI (s): Created shortcut %s", path.c_str());
        Note(row.component, Kind::Shortcut, {path});
    }
    return true;
}

bool Session::RemoveShortcuts() {
    for (const InstalledItem& item : record_.items) {
        if (item.kind == Kind::Shortcut && Removing(item.component) && !item.fields.empty() &&
            !changes_.RemoveFile(item.fields[0])) {
            return false;
        }
    }
    record_.items.erase(std::remove_if(record_.items.begin(), record_.items.end(),
                                       [this](const InstalledItem& item) {
                                           return item.kind == Kind::Shortcut &&
                                                  Removing(item.component);
                                       }),
                        record_.items.end());
    return true;
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
