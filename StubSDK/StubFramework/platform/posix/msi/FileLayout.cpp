#include "platform/posix/msi/FileLayout.h"

#include <cstdlib>
#include <filesystem>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/msi.h"
#include "platform/posix/registry/RegistryStore.h"

namespace stubframework::platform::msi {
namespace {

namespace stdfs = std::filesystem;

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

namespace detail {

std::string Layout::Folder(const std::string& key, int depth) {
    if (const auto cached = folders_.find(key); cached != folders_.end()) {
        return cached->second;
    }
    std::string folder;
    if (const auto set = properties_.find(key); set != properties_.end() && !set->second.empty()) {
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

std::string Layout::FilePath(const PackageFile& file) {
    return Folder(package_.ComponentDirectory(file.component)) + "/" + file.name;
}

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool PlaceFile(const std::string& staged, const std::string& target) {
    // Written through, a link would put the file wherever it points.
    if (fs::IsLink(target)) {
        return false;
    }
    std::error_code error;
    stdfs::create_directories(stdfs::path(target).parent_path(), error);
    stdfs::copy_file(staged, target, stdfs::copy_options::overwrite_existing, error);
    return !error;
}

bool IsInside(const std::string& path, const std::string& folder) {
    const std::string inner = stdfs::path(path).lexically_normal().string();
    std::string outer = stdfs::path(folder).lexically_normal().string();
    while (outer.size() > 1 && outer.back() == '/') {
        outer.pop_back();
    }
    return !outer.empty() && inner.rfind(outer, 0) == 0 &&
           (inner.size() == outer.size() || inner[outer.size()] == '/');
}

std::string CacheFolder() {
    stdfs::path folder;
    if (registry::detail::HiveFolder(registry::detail::Hive::Machine, folder) != 0) {
        return {};
    }
    folder /= "Installer";
    return fs::CreateFolderTree(folder.string()) == kErrorSuccess ? folder.string() : std::string();
}

}  // namespace detail
}  // namespace stubframework::platform::msi
