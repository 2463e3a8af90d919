#include "zip/UnzipPackage.h"

#include <algorithm>
#include <cctype>

#include "core/InstallerLog.h"
#include "core/TempFolder.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/unicode.h"
#include "zip/ExtractZip.h"

namespace stubframework::core {
namespace {

namespace fs = platform::fs;

bool HasZipExtension(const std::string& path) {
    if (path.size() < 4) {
        return false;
    }
    std::string extension = path.substr(path.size() - 4);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".zip";
}

// Passes the entries on and keeps the error that ended the extraction.
class ErrorKeepingReporter final : public zip::ZipReporter {
public:
    explicit ErrorKeepingReporter(zip::ZipReporter& inner) : inner_(inner) {}
    void OnEntry(std::uint32_t index, std::uint32_t count) override {
        inner_.OnEntry(index, count);
    }
    void SetError(std::uint32_t code) override {
        error_ = code;
        inner_.SetError(code);
    }
    std::uint32_t Error() const { return error_; }

private:
    zip::ZipReporter& inner_;
    std::uint32_t error_ = 0;
};

std::string WithSeparator(std::string folder) {
    if (folder.empty() || folder.back() != fs::kPathSeparator) {
        folder += fs::kPathSeparator;
    }
    return folder;
}

}  // namespace

std::string FileInFolder(const std::string& folder, const std::string& name) {
    const std::string base = WithSeparator(folder);
    if (fs::Exists(base + name) && !fs::IsFolder(base + name)) {
        return base + name;
    }
    std::vector<fs::FolderEntry> entries;
    if (fs::ListFolder(base, entries) != platform::kErrorSuccess) {
        return {};
    }
    const std::string wanted = platform::FoldCase(name);
    for (const fs::FolderEntry& entry : entries) {
        if (!entry.isFolder && platform::FoldCase(entry.name) == wanted &&
            !fs::IsLink(base + entry.name)) {
            return base + entry.name;
        }
    }
    return {};
}

bool FindFileInTree(const std::string& folder, const std::string& name, std::string& found) {
    const std::string base = WithSeparator(folder);
    if (!FileInFolder(base, name).empty()) {
        found = base;
        return true;
    }
    std::vector<fs::FolderEntry> entries;
    if (fs::ListFolder(base, entries) != platform::kErrorSuccess) {
        return false;
    }
    for (const fs::FolderEntry& entry : entries) {
        if (entry.isFolder && FindFileInTree(base + entry.name, name, found)) {
            return true;
        }
    }
    return false;
}

UnzipResult UnzipPackage(debug::InstallerLog* log, zip::ZipReporter& reporter,
                         const std::string& packagePath) {
    UnzipResult unzip;
    if (!HasZipExtension(packagePath) || !CreateUniqueTempFolder(unzip.unzipFolder)) {
        unzip.unzipFolder.clear();
        return unzip;
    }
    ErrorKeepingReporter keeper(reporter);
    fs::FileHandle package;
    const bool extracted = package.Open(packagePath) == platform::kErrorSuccess &&
                           zip::ExtractZip(package, unzip.unzipFolder, &keeper, log);
    if (!extracted) {
        debug::LogDebugMessage(log, "Unzip failed, package_path: %s, unzip to: %s\n",
                               packagePath.c_str(), unzip.unzipFolder.c_str());
        unzip.result = keeper.Error() == platform::kErrorDiskFull ? ErrorHandle::DiskFull
                                                                  : ErrorHandle::Failure;
        return unzip;
    }
    if (!FindFileInTree(unzip.unzipFolder, "setup.exe", unzip.setupFolder)) {
        debug::LogDebugMessage(log, "Can not find setup.exe, unzip path : %s",
                               unzip.unzipFolder.c_str());
        unzip.result = ErrorHandle::FileNotExist;
        return unzip;
    }
    unzip.result = ErrorHandle::NoError;
    return unzip;
}

}  // namespace stubframework::core
