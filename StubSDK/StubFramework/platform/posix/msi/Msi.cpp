// Our Windows Installer: installs, removes and repairs packages read by
// MsiPackage through one Session each, and records every product in the
// registry store with a copy of its package (ProductRecord).
#include "platform/msi.h"

#include <filesystem>

#include "platform/posix/msi/MsiPackage.h"
#include "platform/posix/msi/Session.h"

namespace stubframework::platform::msi {
namespace {

using detail::Package;
using detail::Record;

std::uint32_t RemoveRecorded(const Record& record, const std::string& commandLine,
                             const std::vector<std::string>& keep = {}, bool quiet = false) {
    Package package;
    detail::Session session(package, detail::ParseProperties(commandLine));
    return session.Remove(record, keep, quiet);
}

}  // namespace

std::uint32_t InstallProduct(const std::string& packagePath, const std::string& commandLine) {
    const InstallLock lock;
    if (!lock.Held()) {
        return kAlreadyRunning;
    }
    Package package;
    if (!package.Load(packagePath)) {
        detail::VerboseLog log;
        log.Line("MSI (c): %s: %s", packagePath.c_str(), package.Error().c_str());
        return std::filesystem::exists(packagePath) ? kPackageInvalid : kPackageOpenFailed;
    }
    std::map<std::string, std::string> properties = package.Properties();
    for (const auto& [name, value] : detail::ParseProperties(commandLine)) {
        properties[name] = value;
    }
    const std::string code = package.Property("ProductCode");
    Record installed;
    const bool present = detail::FindRecord(code, installed);
    if (detail::Get(properties, "REMOVE") == "ALL") {
        return present ? RemoveRecorded(installed, commandLine) : kUnknownProduct;
    }
    if (present && installed.version != package.Property("ProductVersion")) {
        detail::VerboseLog log;
        log.Line("MSI (s): Another version of this product is already installed: %s",
                 installed.version.c_str());
        return kProductVersion;
    }
    // A newer product of the family blocks a downgrade; an older one is
    // replaced, once the new one is in place (a failed upgrade keeps it).
    std::vector<Record> older;
    if (!present) {
        for (const Record& other : detail::RecordsOfUpgradeCode(package.Property("UpgradeCode"))) {
            if (detail::CompareVersions(other.version, package.Property("ProductVersion")) > 0) {
                detail::VerboseLog log;
                log.Line("MSI (s): A newer version of this product is already installed: %s",
                         other.version.c_str());
                return kProductVersion;
            }
            older.push_back(other);
        }
    }
    const bool repair = present || !detail::Get(properties, "REINSTALL").empty() ||
                        detail::Get(properties, "_IsMaintenance") == "Repair";
    detail::Session session(package, properties);
    const std::uint32_t result = session.Install(packagePath, repair);
    Record upgraded;
    if ((result == kSuccess || result == kRebootRequired) && detail::FindRecord(code, upgraded)) {
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
    if (!detail::FindRecord(productCode, record)) {
        return kUnknownProduct;
    }
    return RemoveRecorded(record, commandLine);
}

std::uint32_t RepairProduct(const std::string& productCode, const std::string& commandLine) {
    Record record;
    if (!detail::FindRecord(productCode, record)) {
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

bool QueryProperty(const std::string& packagePath, const std::string& name, std::string& value) {
    return detail::QueryPackageProperty(packagePath, name, value);
}

}  // namespace stubframework::platform::msi
