#include "platform/posix/msi/Session.h"

#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/commandline.h"
#include "platform/error.h"
#include "platform/fs.h"

namespace stubframework::platform::msi::detail {
namespace {

namespace stdfs = std::filesystem;

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

Record Session::MakeRecord(const std::string& packagePath, const std::vector<std::string>& placed) {
    Record record;
    record.root = RootFor(Get(properties_, "ALLUSERS"));
    record.code = package_.Property("ProductCode");
    record.name = package_.Property("ProductName");
    record.version = package_.Property("ProductVersion");
    record.upgradeCode = package_.Property("UpgradeCode");
    record.location = layout_.Folder(properties_.count("INSTALLDIR") != 0 ||
                                             package_.Directories().count("INSTALLDIR") != 0
                                         ? "INSTALLDIR"
                                         : "TARGETDIR");
    record.files = placed;
    const std::string cache = CacheFolder();
    record.localPackage = cache.empty() ? packagePath : cache + "/" + record.code + ".msi";
    for (const auto& [key, value] : properties_) {
        if (!key.empty() && key != "REINSTALL" && key != "REMOVE" && key != "_IsMaintenance" &&
            std::isupper(static_cast<unsigned char>(key[0])) &&
            package_.Properties().count(key) == 0) {
            record.properties += key + "=" + QuoteArgument(value) + " ";
        }
    }
    return record;
}

std::uint32_t Session::Install(const std::string& packagePath, bool repair) {
    const std::string name = package_.Property("ProductName");
    log_.Line("MSI (s): %s product %s (%s), version %s", repair ? "Repairing" : "Installing",
              name.c_str(), package_.Property("ProductCode").c_str(),
              package_.Property("ProductVersion").c_str());
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
    const Record record = MakeRecord(packagePath, placed);
    // Removal and repair work from a copy of the package, as Windows keeps one.
    const bool cached = record.localPackage == packagePath ||
                        fs::CopyFile(packagePath, record.localPackage, false) == kErrorSuccess;
    if (!cached || !WriteRecord(record)) {
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
        while (IsInside(folder.string(), record.location) && stdfs::is_empty(folder, ignored) &&
               stdfs::remove(folder, ignored)) {
            folder = folder.parent_path();
        }
    }
    if (!record.localPackage.empty() &&
        record.localPackage.find("/Installer/") != std::string::npos) {
        stdfs::remove(record.localPackage, ignored);
    }
    DeleteRecord(record);
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

}  // namespace stubframework::platform::msi::detail
