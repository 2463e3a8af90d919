#include "platform/posix/msi/FileLayout.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/msi.h"
#include "platform/posix/registry/RegistryStore.h"

namespace stubframework::platform::msi {
namespace {

namespace stdfs = std::filesystem;

const std::map<std::string, std::string>& Folders() {
    static const std::map<std::string, std::string> folders = {
        // A 64-bit machine: the 32-bit folders are the "(x86)" ones.
        {"ProgramFilesFolder", "Program Files (x86)"},
        {"ProgramFiles64Folder", "Program Files"},
        {"CommonFilesFolder", "Program Files (x86)/Common Files"},
        {"CommonFiles64Folder", "Program Files/Common Files"},
        {"AppDataFolder", "AppData/Roaming"},
        {"LocalAppDataFolder", "AppData/Local"},
        {"CommonAppDataFolder", "ProgramData"},
        {"DesktopFolder", "Desktop"},
        {"ProgramMenuFolder", "Start Menu/Programs"},
        {"StartMenuFolder", "Start Menu"},
        {"StartupFolder", "Start Menu/Programs/Startup"},
        {"WindowsFolder", "Windows"},
        {"SystemFolder", "Windows/SysWOW64"},
        {"System64Folder", "Windows/System32"},
        {"FontsFolder", "Windows/Fonts"},
        {"PersonalFolder", "Documents"},
    };
    return folders;
}

std::string SpecialFolder(const std::string& key) {
    const auto found = Folders().find(key);
    return found != Folders().end() ? found->second : std::string();
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

std::string Layout::Folder(const std::string& key, int depth) const {
    if (const auto cached = folders_.find(key); cached != folders_.end()) {
        return cached->second;
    }
    std::string folder;
    if (const auto set = properties_.find(key); set != properties_.end() && !set->second.empty()) {
        folder = MapFolder(set->second);
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

std::string Layout::FilePath(const PackageFile& file) const {
    return Folder(package_.ComponentDirectory(file.component)) + "/" + file.name;
}

const std::map<std::string, std::string>& KnownFolders() {
    return Folders();
}

bool IsSystemFolder(const std::string& path) {
    const std::string root = InstallRoot();
    if (IsInside(root, path)) {
        return true;  // the root or above it
    }
    for (const auto& [key, folder] : Folders()) {
        if (IsInside(std::string(root).append("/").append(folder), path)) {
            return true;  // a known folder or one of its parents
        }
    }
    return false;
}

std::string MapFolder(const std::string& value) {
    std::string path = value;
    const bool windows =
        path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
    if (windows || path.find('\\') != std::string::npos) {
        std::replace(path.begin(), path.end(), '\\', '/');
    }
    if (windows) {
        const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(path[0])));
        std::string root = InstallRoot();
        if (drive != 'c') {
            root = stdfs::path(root).parent_path().string() + "/drive_" + drive;
        }
        const std::size_t rest = path.find_first_not_of('/', 2);
        return rest == std::string::npos ? root : root + "/" + path.substr(rest);
    }
    if (path.empty() || path[0] != '/') {
        return InstallRoot() + "/" + path;
    }
    return path;
}

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    // Iterative with one backtrack point: linear in practice, never recursive.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string::npos;
    std::size_t mark = 0;
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

// ELF programs and scripts run; anything else is data.
bool IsProgram(const std::string& path) {
    fs::File file(std::fopen(path.c_str(), "rb"));
    char head[4] = {};
    const std::size_t read = file ? std::fread(head, 1, sizeof head, file.get()) : 0;
    return (read >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') ||
           (read >= 2 && head[0] == '#' && head[1] == '!');
}

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
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
