// The tables of a Windows Installer package that laying out its files needs,
// read with libmsi, and its cabinets unpacked with libgcab.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace stubframework::platform::msi::detail {

struct PackageFile {
    std::string key;  // the File table's key, the name inside the cabinet
    std::string component;
    std::string name;  // the long file name
    std::int64_t size = 0;
    int sequence = 0;
};

struct PackageDirectory {
    std::string parent;
    std::string name;  // the long target name; "." for the parent itself
};

class Package {
public:
    // Reads the tables; false with Error() when the file is not a package.
    bool Load(const std::string& path);
    const std::string& Error() const { return error_; }

    std::string Property(const std::string& name) const;
    const std::map<std::string, std::string>& Properties() const { return properties_; }
    const std::map<std::string, PackageDirectory>& Directories() const { return directories_; }
    // The directory key of a component.
    std::string ComponentDirectory(const std::string& component) const;
    const std::vector<PackageFile>& Files() const { return files_; }
    // True when the package schedules or forces a restart.
    bool AsksForRestart() const { return asksForRestart_; }

    // Unpacks every cabinet (embedded or beside the package) into `folder`,
    // each file under its File key.
    bool ExtractFiles(const std::string& folder);

private:
    bool ExtractCabinet(const std::string& cabinet, const std::string& folder);

    std::string path_;
    std::map<std::string, std::string> properties_;
    std::map<std::string, PackageDirectory> directories_;
    std::map<std::string, std::string> components_;
    std::vector<PackageFile> files_;
    std::vector<std::string> cabinets_;
    bool asksForRestart_ = false;
    std::string error_;
};

// One row of the package's Property table, read by a query of its own: no
// other table is needed. False when the package or the row cannot be read.
bool QueryPackageProperty(const std::string& path, const std::string& name, std::string& value);

}  // namespace stubframework::platform::msi::detail
