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

// Keeps the changes of a run that ended well, undoes those of any other.
std::uint32_t Finish(detail::Transaction& changes, std::uint32_t result) {
    if (result == kSuccess || result == kRebootRequired) {
        changes.Commit();
    } else if (!changes.Rollback()) {
        detail::VerboseLog log;
        log.Line("MSI (s): Some changes could not be undone; their backups are kept in %s",
                 changes.BackupFolder().c_str());
    }
    return result;
}

std::uint32_t RemoveRecorded(const Record& record, const std::string& commandLine) {
    Package package;
    const bool havePackage = package.Load(record.localPackage);
    detail::Transaction changes(InstallRoot());
    // Folders as the product was installed (INSTALLDIR and the like).
    detail::Session session(package, detail::ParseProperties(record.properties + " " + commandLine),
                            changes);
    return Finish(changes, session.Remove(record, havePackage));
}

}  // namespace

std::uint32_t InstallProduct(const std::string& packagePath, const std::string& commandLine) {
    const InstallLock lock;
    if (!lock.Held()) {
        return lock.Failed() ? kInstallFailure : kAlreadyRunning;
    }
    Package package;
    if (!package.Load(packagePath)) {
        detail::VerboseLog log;
        log.Line("MSI (c): %s: %s", packagePath.c_str(), package.Error().c_str());
        return std::filesystem::exists(packagePath) ? kPackageInvalid : kPackageOpenFailed;
    }
    const std::map<std::string, std::string> properties = detail::ParseProperties(commandLine);
    // Transforms and patches change a package before it runs: not done here.
    for (const char* name : {"TRANSFORMS", "PATCH"}) {
        if (!detail::Get(properties, name).empty()) {
            detail::VerboseLog log;
            log.Line("MSI (c): %s is not supported here: nothing was changed.", name);
            return kInvalidCommandLine;
        }
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
    detail::Transaction changes(InstallRoot());
    detail::Session session(package, properties, changes);
    return Finish(changes, session.Install(packagePath, present ? &installed : nullptr));
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
