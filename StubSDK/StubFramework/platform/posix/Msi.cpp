// Our Windows Installer: installs, removes and repairs packages read by
// MsiPackage, reports to the external UI handler with the installer's
// messages, writes a verbose log, and records each product under the
// uninstall key of the registry store with a copy of its package.
#include "platform/msi.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/commandline.h"
#include "platform/posix/MsiPackage.h"
#include "platform/posix/RegistryStore.h"
#include "platform/registry.h"

namespace stubframework::platform::msi {
namespace {

namespace stdfs = std::filesystem;
namespace reg = platform::registry;
using detail::Package;

constexpr const char* kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

struct Settings {
    std::mutex lock;
    std::uint32_t uiLevel = kUiBasic;
    ExternalUiHandler handler = nullptr;
    std::uint32_t filter = 0;
    void* context = nullptr;
    std::string logPath;
    bool logAppend = false;
};

Settings& State() {
    static Settings settings;
    return settings;
}

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

std::string Now() {
    const SystemTime t = UtcNow();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

// The verbose log of one installation, when logging is on.
class Log {
public:
    Log() {
        Settings& state = State();
        const std::lock_guard<std::mutex> guard(state.lock);
        if (!state.logPath.empty()) {
            file_ = std::fopen(state.logPath.c_str(), state.logAppend ? "ab" : "wb");
        }
        Line("=== Verbose logging started: %s ===", Now().c_str());
    }
    ~Log() {
        Line("=== Logging stopped: %s ===", Now().c_str());
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void Line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (file_ == nullptr) {
            return;
        }
        std::va_list arguments;
        va_start(arguments, format);
        std::vfprintf(file_, format, arguments);
        va_end(arguments);
        std::fputs("\r\n", file_);
    }

private:
    std::FILE* file_ = nullptr;
};

// The external UI handler as the installation sees it: messages the filter
// lets through; false once the handler asked to cancel.
class Ui {
public:
    Ui() {
        Settings& state = State();
        const std::lock_guard<std::mutex> guard(state.lock);
        handler_ = state.handler;
        filter_ = state.filter;
        context_ = state.context;
    }
    bool Send(std::uint32_t type, const std::string& text) {
        if (handler_ == nullptr || (filter_ & LogModeOf(type)) == 0) {
            return true;
        }
        cancelled_ |= handler_(context_, type, text.c_str()) == kIdCancel;
        return !cancelled_;
    }
    bool Progress(int kind, std::int64_t value, int third = 0, int fourth = 0) {
        char text[96];
        std::snprintf(text, sizeof text, "1: %d 2: %" PRId64 " 3: %d 4: %d ", kind, value, third,
                      fourth);
        return Send(kMessageProgress, text);
    }
    bool Cancelled() const { return cancelled_; }

private:
    ExternalUiHandler handler_ = nullptr;
    std::uint32_t filter_ = 0;
    void* context_ = nullptr;
    bool cancelled_ = false;
};

// ---- Registry record of installed products ----

reg::Root RootFor(const std::string& allUsers) {
    return allUsers == "1" || allUsers == "2" ? reg::Root::LocalMachine : reg::Root::CurrentUser;
}

std::vector<std::uint8_t> MultiText(const std::vector<std::string>& lines) {
    std::vector<std::uint8_t> data;
    for (const std::string& line : lines) {
        const std::vector<std::uint8_t> text = reg::TextData(line);
        data.insert(data.end(), text.begin(), text.end());
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

std::vector<std::string> MultiLines(const std::vector<std::uint8_t>& data) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t at = 0; at + 1 < data.size(); at += 2) {
        if (data[at] == 0 && data[at + 1] == 0) {
            if (at == start) {
                break;
            }
            lines.push_back(reg::DataText(std::span(data).subspan(start, at + 2 - start)));
            start = at + 2;
        }
    }
    return lines;
}

struct Record {
    reg::Root root = reg::Root::CurrentUser;
    std::string code;
    std::string name;
    std::string version;
    std::string upgradeCode;
    std::string location;
    std::string localPackage;
    std::string properties;  // the command line's properties, for a repair
    std::vector<std::string> files;
};

std::string Text(const reg::Key& key, const char* name) {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    return reg::QueryValue(key, name, type, data) == 0 ? reg::DataText(data) : std::string();
}

bool ReadRecord(reg::Root root, const std::string& code, Record& record) {
    reg::Key key;
    if (reg::OpenKey(root, kUninstallKey + code, reg::View::Default, reg::Access::Read, key) != 0 ||
        Text(key, "WindowsInstaller").empty()) {
        return false;
    }
    record.root = root;
    record.code = code;
    record.name = Text(key, "DisplayName");
    record.version = Text(key, "DisplayVersion");
    record.upgradeCode = Text(key, "UpgradeCode");
    record.location = Text(key, "InstallLocation");
    record.localPackage = Text(key, "LocalPackage");
    record.properties = Text(key, "InstallProperties");
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    if (reg::QueryValue(key, "InstalledFiles", type, data) == 0) {
        record.files = MultiLines(data);
    }
    return true;
}

bool FindRecord(const std::string& code, Record& record) {
    return ReadRecord(reg::Root::CurrentUser, code, record) ||
           ReadRecord(reg::Root::LocalMachine, code, record);
}

// Installed products with this upgrade code, under either root.
std::vector<Record> RecordsOfUpgradeCode(const std::string& upgradeCode) {
    std::vector<Record> found;
    for (const reg::Root root : {reg::Root::CurrentUser, reg::Root::LocalMachine}) {
        reg::Key uninstall;
        if (upgradeCode.empty() ||
            reg::OpenKey(
                root, std::string(kUninstallKey).substr(0, std::string(kUninstallKey).size() - 1),
                reg::View::Default, reg::Access::Read, uninstall) != 0) {
            continue;
        }
        std::string name;
        for (std::uint32_t index = 0; reg::EnumKey(uninstall, index, name) == 0; ++index) {
            Record record;
            if (ReadRecord(root, name, record) && record.upgradeCode == upgradeCode) {
                found.push_back(record);
            }
        }
    }
    return found;
}

bool WriteRecord(const Record& record) {
    reg::Key key;
    if (reg::CreateKey(record.root, kUninstallKey + record.code, reg::View::Default, key) != 0) {
        return false;
    }
    const auto text = [&key](const char* name, const std::string& value) {
        const std::vector<std::uint8_t> data = reg::TextData(value);
        return reg::SetValue(key, name, reg::kRegSz, data) == 0;
    };
    const std::vector<std::uint8_t> files = MultiText(record.files);
    return text("DisplayName", record.name) && text("DisplayVersion", record.version) &&
           text("UpgradeCode", record.upgradeCode) && text("InstallLocation", record.location) &&
           text("LocalPackage", record.localPackage) &&
           text("InstallProperties", record.properties) &&
           text("UninstallString", "MsiExec.exe /X" + record.code) &&
           text("WindowsInstaller", "1") &&
           reg::SetValue(key, "InstalledFiles", reg::kRegMultiSz, files) == 0;
}

// ---- Laying out files ----

std::string SpecialFolder(const std::string& key) {
    static const std::map<std::string, std::string> folders = {
        {"ProgramFilesFolder", "Program Files"},
        {"ProgramFiles64Folder", "Program Files"},
        {"CommonFilesFolder", "Program Files/Common Files"},
        {"CommonFiles64Folder", "Program Files/Common Files"},
        {"AppDataFolder", "AppData/Roaming"},
        {"LocalAppDataFolder", "AppData/Local"},
        {"CommonAppDataFolder", "ProgramData"},
        {"DesktopFolder", "Desktop"},
        {"ProgramMenuFolder", "Start Menu/Programs"},
        {"StartMenuFolder", "Start Menu"},
        {"WindowsFolder", "Windows"},
        {"SystemFolder", "Windows/System32"},
        {"System64Folder", "Windows/System32"},
    };
    const auto found = folders.find(key);
    return found != folders.end() ? found->second : std::string();
}

class Layout {
public:
    Layout(const Package& package, const std::map<std::string, std::string>& properties)
        : package_(package), properties_(properties) {}

    // The folder of a Directory key; a public property of that name wins.
    std::string Folder(const std::string& key, int depth = 0) {
        if (const auto cached = folders_.find(key); cached != folders_.end()) {
            return cached->second;
        }
        std::string folder;
        if (const auto set = properties_.find(key);
            set != properties_.end() && !set->second.empty()) {
            folder = set->second;
        } else if (key == "TARGETDIR" || depth > 64) {
            folder = InstallRoot();
        } else if (const std::string special = SpecialFolder(key); !special.empty()) {
            folder = InstallRoot() + "/" + special;
        } else {
            const auto found = package_.Directories().find(key);
            if (found == package_.Directories().end()) {
                folder = InstallRoot();
            } else {
                folder = Folder(found->second.parent.empty() ? "TARGETDIR" : found->second.parent,
                                depth + 1);
                const std::string& name = found->second.name;
                if (!name.empty() && name != "." && name != "SourceDir") {
                    folder += "/" + name;
                }
            }
        }
        while (folder.size() > 1 && folder.back() == '/') {
            folder.pop_back();
        }
        folders_[key] = folder;
        return folder;
    }

    std::string FilePath(const detail::PackageFile& file) {
        return Folder(package_.ComponentDirectory(file.component)) + "/" + file.name;
    }

private:
    const Package& package_;
    const std::map<std::string, std::string>& properties_;
    std::map<std::string, std::string> folders_;
};

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Moves (or copies) a staged file into place; false on failure.
bool PlaceFile(const std::string& staged, const std::string& target) {
    std::error_code error;
    stdfs::create_directories(stdfs::path(target).parent_path(), error);
    stdfs::copy_file(staged, target, stdfs::copy_options::overwrite_existing, error);
    return !error;
}

std::string CacheFolder() {
    stdfs::path folder;
    if (reg::detail::HiveFolder(reg::detail::Hive::Machine, folder) != 0) {
        return {};
    }
    folder /= "Installer";
    std::error_code error;
    stdfs::create_directories(folder, error);
    return error ? std::string() : folder.string();
}

// One installation, removal or repair.
class Session {
public:
    Session(Package& package, std::map<std::string, std::string> properties)
        : package_(package), properties_(std::move(properties)), layout_(package_, properties_) {}

    std::uint32_t Install(const std::string& packagePath, bool repair);
    // Removes the product's files but those in `keep`; `quiet` sends the
    // handler nothing (a removal inside another installation).
    std::uint32_t Remove(const Record& record, const std::vector<std::string>& keep, bool quiet);

    Log& Logger() { return log_; }

private:
    bool LayOutFiles(std::vector<std::string>& placed);
    void Rollback(const std::vector<std::string>& placed);

    Package& package_;
    std::map<std::string, std::string> properties_;
    Layout layout_;
    Log log_;
    Ui ui_;
};

bool Session::LayOutFiles(std::vector<std::string>& placed) {
    std::string stage = stdfs::temp_directory_path().string() + "/stub-msi-XXXXXX";
    if (mkdtemp(stage.data()) == nullptr) {
        log_.Line("MSI (s): cannot make a staging folder");
        return false;
    }
    bool done = package_.ExtractFiles(stage);
    if (!done) {
        log_.Line("MSI (s): %s", package_.Error().c_str());
    }
    std::int64_t total = 0;
    for (const auto& file : package_.Files()) {
        total += file.size;
    }
    // The first reset ends the script's making, the second starts its run.
    done = done && ui_.Progress(0, 0) && ui_.Progress(0, total, 0, 1) &&
           ui_.Send(kMessageActionStart, "Action " + Now() + ": InstallFiles. Copying new files");
    log_.Line("MSI (s): Doing action: InstallFiles");
    for (const auto& file : package_.Files()) {
        if (!done) {
            break;
        }
        const std::string target = layout_.FilePath(file);
        if (!IsPlainName(file.key) || !IsPlainName(file.name) ||
            !PlaceFile(stage + "/" + file.key, target)) {
            log_.Line("MSI (s): cannot install file %s to %s", file.key.c_str(), target.c_str());
            done = false;
            break;
        }
        placed.push_back(target);
        log_.Line("MSI (s): Installed file %s", target.c_str());
        done = ui_.Send(kMessageActionData, "File: " + file.name + ",  Directory: " +
                                                target.substr(0, target.rfind('/')) +
                                                ",  Size: " + std::to_string(file.size)) &&
               ui_.Progress(2, file.size);
    }
    std::error_code ignored;
    stdfs::remove_all(stage, ignored);
    return done;
}

void Session::Rollback(const std::vector<std::string>& placed) {
    log_.Line("MSI (s): Rolling back");
    std::error_code ignored;
    for (const std::string& file : placed) {
        stdfs::remove(file, ignored);
    }
}

std::uint32_t Session::Install(const std::string& packagePath, bool repair) {
    const std::string code = package_.Property("ProductCode");
    const std::string name = package_.Property("ProductName");
    log_.Line("MSI (s): %s product %s (%s), version %s", repair ? "Repairing" : "Installing",
              name.c_str(), code.c_str(), package_.Property("ProductVersion").c_str());
    std::vector<std::string> placed;
    if (!LayOutFiles(placed)) {
        const bool cancelled = ui_.Cancelled();
        if (!repair) {
            Rollback(placed);
        }
        log_.Line("MSI (s): Product: %s -- Installation failed.", name.c_str());
        log_.Line("MSI (s): Installation success or error status: %u.",
                  cancelled ? kUserExit : kInstallFailure);
        return cancelled ? kUserExit : kInstallFailure;
    }
    Record record;
    record.root = RootFor(Get(properties_, "ALLUSERS"));
    record.code = code;
    record.name = name;
    record.version = package_.Property("ProductVersion");
    record.upgradeCode = package_.Property("UpgradeCode");
    record.location = layout_.Folder(properties_.count("INSTALLDIR") != 0 ||
                                             package_.Directories().count("INSTALLDIR") != 0
                                         ? "INSTALLDIR"
                                         : "TARGETDIR");
    record.files = placed;
    // Removal and repair work from a copy of the package, as Windows keeps one.
    const std::string cache = CacheFolder();
    record.localPackage = cache.empty() ? packagePath : cache + "/" + code + ".msi";
    std::error_code error;
    if (record.localPackage != packagePath) {
        stdfs::copy_file(packagePath, record.localPackage, stdfs::copy_options::overwrite_existing,
                         error);
    }
    for (const auto& [key, value] : properties_) {
        if (!key.empty() && key != "REINSTALL" && key != "REMOVE" && key != "_IsMaintenance" &&
            std::isupper(static_cast<unsigned char>(key[0])) &&
            package_.Properties().count(key) == 0) {
            record.properties += key + "=" + QuoteArgument(value) + " ";
        }
    }
    if (error || !WriteRecord(record)) {
        if (!repair) {
            Rollback(placed);  // a repair's files belong to the installed product
        }
        log_.Line("MSI (s): cannot record the product");
        return kInstallFailure;
    }
    ui_.Send(kMessageTerminate, "");
    const std::uint32_t result = package_.AsksForRestart() ? kRebootRequired : kSuccess;
    log_.Line("MSI (s): Product: %s -- %s completed successfully.", name.c_str(),
              repair ? "Configuration" : "Installation");
    log_.Line(
        "MSI (s): Windows Installer %s the product. Product Name: %s. Product Version: %s. "
        "Installation success or error status: %u.",
        repair ? "reconfigured" : "installed", name.c_str(), record.version.c_str(), result);
    return result;
}

// Whether `path` is `folder` or lies inside it, by whole components.
bool IsInside(const stdfs::path& path, const stdfs::path& folder) {
    const std::string inner = path.lexically_normal().string();
    std::string outer = folder.lexically_normal().string();
    while (outer.size() > 1 && outer.back() == '/') {
        outer.pop_back();
    }
    return !outer.empty() && inner.rfind(outer, 0) == 0 &&
           (inner.size() == outer.size() || inner[outer.size()] == '/');
}

std::uint32_t Session::Remove(const Record& record, const std::vector<std::string>& keep,
                              bool quiet) {
    log_.Line("MSI (s): Removing product %s (%s)", record.name.c_str(), record.code.c_str());
    const auto send = [this, quiet](int kind, std::int64_t value, int fourth = 0) {
        if (!quiet) {
            ui_.Progress(kind, value, 0, fourth);
        }
    };
    send(0, 0);
    send(0, static_cast<std::int64_t>(record.files.size()), 1);
    std::error_code ignored;
    std::vector<stdfs::path> folders;
    for (const std::string& file : record.files) {
        if (std::find(keep.begin(), keep.end(), file) == keep.end()) {
            stdfs::remove(file, ignored);
            log_.Line("MSI (s): Removed file %s", file.c_str());
        }
        folders.push_back(stdfs::path(file).parent_path());
        send(2, 1);
    }
    // Folders of the product go when they are empty, deepest first, and never
    // above its install folder.
    for (stdfs::path folder : folders) {
        while (IsInside(folder, record.location) && stdfs::is_empty(folder, ignored) &&
               stdfs::remove(folder, ignored)) {
            folder = folder.parent_path();
        }
    }
    if (!record.localPackage.empty() &&
        record.localPackage.find("/Installer/") != std::string::npos) {
        stdfs::remove(record.localPackage, ignored);
    }
    reg::DeleteTree(record.root, kUninstallKey + record.code, reg::View::Default);
    log_.Line("MSI (s): Product: %s -- Removal completed successfully.", record.name.c_str());
    log_.Line(
        "MSI (s): Windows Installer removed the product. Product Name: %s. Product "
        "Version: %s. Installation success or error status: 0.",
        record.name.c_str(), record.version.c_str());
    if (!quiet) {
        ui_.Send(kMessageTerminate, "");
    }
    return kSuccess;
}

// Compares dotted versions numerically: negative, 0 or positive.
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

std::uint32_t RemoveRecorded(const Record& record, const std::string& commandLine,
                             const std::vector<std::string>& keep = {}, bool quiet = false) {
    Package package;
    Session session(package, ParseProperties(commandLine));
    return session.Remove(record, keep, quiet);
}

}  // namespace

std::string InstallRoot() {
    if (const char* root = std::getenv("STUB_INSTALL_ROOT"); root != nullptr && *root != '\0') {
        return root;
    }
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const std::string base = data != nullptr && *data != '\0' ? data
                             : home != nullptr                ? std::string(home) + "/.local/share"
                                                              : "/tmp";
    return base + "/stubframework/drive_c";
}

InstallLock::InstallLock() {
    stdfs::path folder;
    if (reg::detail::HiveFolder(reg::detail::Hive::Machine, folder) != 0) {
        return;
    }
    fd_ = open((folder / "installer.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

InstallLock::~InstallLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::uint32_t SetInternalUI(std::uint32_t level, void*) {
    Settings& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    const std::uint32_t previous = state.uiLevel;
    if (level != kUiNoChange) {
        state.uiLevel = level;
    }
    return previous;
}

ExternalUiHandler SetExternalUI(ExternalUiHandler handler, std::uint32_t filter, void* context) {
    Settings& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    const ExternalUiHandler previous = state.handler;
    state.handler = handler;
    state.filter = filter;
    state.context = context;
    return previous;
}

std::uint32_t EnableLog(std::uint32_t mode, const std::string& path, std::uint32_t attributes) {
    Settings& state = State();
    const std::lock_guard<std::mutex> guard(state.lock);
    state.logPath = mode != 0 ? path : std::string();
    state.logAppend = (attributes & kLogAppend) != 0;
    return kSuccess;
}

std::uint32_t InstallProduct(const std::string& packagePath, const std::string& commandLine) {
    const InstallLock lock;
    if (!lock.Held()) {
        return kAlreadyRunning;
    }
    Package package;
    if (!package.Load(packagePath)) {
        Log log;
        log.Line("MSI (c): %s: %s", packagePath.c_str(), package.Error().c_str());
        return std::filesystem::exists(packagePath) ? kPackageInvalid : kPackageOpenFailed;
    }
    std::map<std::string, std::string> properties = package.Properties();
    for (const auto& [name, value] : ParseProperties(commandLine)) {
        properties[name] = value;
    }
    const std::string code = package.Property("ProductCode");
    Record installed;
    const bool present = FindRecord(code, installed);
    if (Get(properties, "REMOVE") == "ALL") {
        return present ? RemoveRecorded(installed, commandLine) : kUnknownProduct;
    }
    if (present && installed.version != package.Property("ProductVersion")) {
        Log log;
        log.Line("MSI (s): Another version of this product is already installed: %s",
                 installed.version.c_str());
        return kProductVersion;
    }
    // A newer product of the family blocks a downgrade; an older one is
    // replaced, once the new one is in place (a failed upgrade keeps it).
    std::vector<Record> older;
    if (!present) {
        for (const Record& other : RecordsOfUpgradeCode(package.Property("UpgradeCode"))) {
            if (CompareVersions(other.version, package.Property("ProductVersion")) > 0) {
                Log log;
                log.Line("MSI (s): A newer version of this product is already installed: %s",
                         other.version.c_str());
                return kProductVersion;
            }
            older.push_back(other);
        }
    }
    const bool repair = present || !Get(properties, "REINSTALL").empty() ||
                        Get(properties, "_IsMaintenance") == "Repair";
    Session session(package, properties);
    const std::uint32_t result = session.Install(packagePath, repair);
    Record upgraded;
    if ((result == kSuccess || result == kRebootRequired) && FindRecord(code, upgraded)) {
        for (const Record& other : older) {
            RemoveRecorded(other, commandLine, upgraded.files, true);
        }
    }
    return result;
}

std::uint32_t RemoveProduct(const std::string& productCode, const std::string& commandLine) {
    const InstallLock lock;
    if (!lock.Held()) {
        return kAlreadyRunning;
    }
    Record record;
    if (!FindRecord(productCode, record)) {
        return kUnknownProduct;
    }
    return RemoveRecorded(record, commandLine);
}

std::uint32_t RepairProduct(const std::string& productCode, const std::string& commandLine) {
    Record record;
    if (!FindRecord(productCode, record)) {
        return kUnknownProduct;
    }
    // The properties of the first installation (INSTALLDIR and the like) hold.
    return InstallProduct(record.localPackage, record.properties + " REINSTALL=ALL " + commandLine);
}

bool ReadPackageProperty(const std::string& packagePath, const std::string& name,
                         std::string& value) {
    Package package;
    if (!package.Load(packagePath)) {
        return false;
    }
    value = package.Property(name);
    return true;
}

}  // namespace stubframework::platform::msi
