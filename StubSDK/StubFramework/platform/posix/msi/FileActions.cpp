// The session's actions on files and folders: the file-versioning rules,
// InstallFiles, RemoveFiles with the RemoveFile table, Create/RemoveFolders.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include "platform/crypto.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/posix/msi/Session.h"

namespace stubframework::platform::msi::detail {
namespace {

namespace stdfs = std::filesystem;

using Kind = InstalledItem::Kind;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

constexpr const char* kKept = "kept";

bool IsKept(const InstalledItem& item) {
    return item.fields.size() > 3 && item.fields[3] == kKept;
}

// Read in pieces: a payload may be larger than the memory at hand.
std::string ContentHash(const std::string& path) {
    const fs::File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        return {};
    }
    platform::crypto::Sha256Stream hash;
    std::vector<char> buffer(1 << 20);
    for (std::size_t read = 0;
         (read = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0;) {
        if (!hash.Update(buffer.data(), read)) {
            return {};
        }
    }
    platform::crypto::Sha256Digest digest{};
    if (std::ferror(file.get()) != 0 || !hash.Finish(digest)) {
        return {};
    }
    return Hex({digest.begin(), digest.end()});
}

// A user's change to an unversioned file shows as a modification well after
// the file was made (Linux keeps no creation time everywhere: without one
// the file counts as unchanged, as the package's rules assume).
bool ChangedSinceMade(const std::string& path) {
    struct statx info {};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME, &info) != 0 ||
        (info.stx_mask & STATX_BTIME) == 0) {
        return false;
    }
    return info.stx_mtime.tv_sec > info.stx_btime.tv_sec + 2;
}

}  // namespace

// The version a package file is judged by: its own, or that of the file it
// names as its companion.
std::string Session::VersionOf(const PackageFile& file) const {
    if (file.version.empty() || std::isdigit(static_cast<unsigned char>(file.version[0])) != 0) {
        return file.version;
    }
    for (const PackageFile& companion : package_.Files()) {
        if (companion.key == file.version) {
            return companion.version;
        }
    }
    return {};
}

// The file-versioning rules: the higher version wins, a versioned file wins
// over an unversioned one, and an unversioned file a user changed stays
// theirs. REINSTALLMODE widens what is replaced.
bool Session::WantsFile(const PackageFile& file, const std::string& target,
                        const std::string& staged) {
    if (!fs::Exists(target)) {
        return true;
    }
    const std::string mode = Get(properties_, "REINSTALLMODE");
    const auto has = [&mode](char letter) {
        return mode.find(letter) != std::string::npos ||
               mode.find(static_cast<char>(std::toupper(letter))) != std::string::npos;
    };
    if (has('a')) {
        return true;
    }
    const InstalledItem* installed = nullptr;
    for (const InstalledItem& item : record_.items) {
        if (item.kind == Kind::File && item.fields.size() > 2 && item.fields[0] == target &&
            !IsKept(item)) {
            installed = &item;
        }
    }
    // Our stand-in payloads carry no version resource: what the package said
    // of a file it installed stands for it.
    std::string onDisk = fs::FileVersion(target);
    if (onDisk.empty() && installed != nullptr) {
        onDisk = installed->fields[2];
    }
    const std::string version = VersionOf(file);
    const auto differs = [&] { return ContentHash(target) != ContentHash(staged); };
    if (!version.empty()) {
        if (onDisk.empty()) {
            return true;
        }
        const int order = CompareVersions(version, onDisk);
        if (order > 0) {
            return has('o') || has('e') || has('d');
        }
        if (order == 0) {
            return has('e') || (has('c') && differs());
        }
        if (!has('d')) {
            log_.Line("MSI (s): %s is newer (%s) than the package's (%s): it is kept",
                      target.c_str(), onDisk.c_str(), version.c_str());
        }
        return has('d');
    }
    if (!onDisk.empty()) {
        log_.Line("MSI (s): %s has a version (%s) and the package's has none: it is kept",
                  target.c_str(), onDisk.c_str());
        return false;
    }
    const std::string recordedHash = installed != nullptr ? installed->fields[1] : std::string();
    const bool changed =
        recordedHash.empty() ? ChangedSinceMade(target) : ContentHash(target) != recordedHash;
    if (changed) {
        log_.Line("MSI (s): %s was changed since it was installed: it is kept", target.c_str());
        return false;
    }
    // A file that was there before the product is the product's now.
    if (installed == nullptr || Installing(file.component)) {
        return differs();
    }
    return has('c') && differs();
}

bool Session::IsComponentFolder(const std::string& folder) const {
    return std::any_of(package_.Components().begin(), package_.Components().end(),
                       [&](const auto& component) {
                           return layout_.Folder(component.second.directory) == folder;
                       });
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
    std::set<std::string> placed;
    for (const Record& product : AllRecords()) {
        for (const InstalledItem& item : product.items) {
            if (item.kind == Kind::File && !item.fields.empty() && !IsKept(item)) {
                placed.insert(item.fields[0]);
            }
        }
    }
    for (const PackageFile* file : files) {
        const std::string target = layout_.FilePath(*file);
        const std::string staged = stage_ + "/" + file->key;
        if (!IsPlainName(file->key) || !IsPlainName(file->name)) {
            log_.Line("MSI (s): cannot install file %s to %s", file->key.c_str(), target.c_str());
            return false;
        }
        if (WantsFile(*file, target, staged)) {
            // Folders made for the file go with its component.
            std::vector<std::string> made;
            if (!changes_.MakeFolder(stdfs::path(target).parent_path().string(), Readers(),
                                     &made)) {
                log_.Line("MSI (s): cannot create the folder of %s", target.c_str());
                return false;
            }
            // Only folders of components go with them: a parent such as the
            // maker's folder may hold other products.
            for (const std::string& folder : made) {
                if (!IsSystemFolder(folder) && IsComponentFolder(folder)) {
                    Note(file->component, Kind::Folder, {folder});
                }
            }
            const bool program = IsProgram(staged);
            if (!changes_.PlaceFile(staged, target, Readers(), program,
                                    Transaction::Source::kTake)) {
                log_.Line("MSI (s): cannot install file %s to %s", file->key.c_str(),
                          target.c_str());
                return false;
            }
            log_.Line("MSI (s): Installed file %s", target.c_str());
            Note(file->component, Kind::File,
                 {target, file->version.empty() ? ContentHash(target) : std::string(),
                  file->version});
        } else if (Installing(file->component)) {
            // What the machine had before stays when the product goes, unless
            // an installed product placed it (then it is shared).
            Note(file->component, Kind::File,
                 {target, "", "", placed.count(target) != 0 ? "" : kKept});
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

// RemoveFile rows act on installation for components coming, on removal
// for components going.
bool Session::Applies(const RemoveFileRow& row) const {
    return (Installing(row.component) && (row.mode & RemoveFileRow::kOnInstall) != 0) ||
           (Removing(row.component) && (row.mode & RemoveFileRow::kOnRemove) != 0);
}

std::string Session::FolderProperty(const std::string& name) const {
    std::string folder = Get(properties_, name);
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

bool Session::RemoveFiles() {
    for (const RemoveFileRow& row : package_.RemoveFiles()) {
        if (!Applies(row) || row.fileName.empty()) {
            continue;
        }
        const std::string folder = FolderProperty(row.directory);
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
        if (item.kind != Kind::File || !Removing(item.component) || item.fields.empty()) {
            continue;
        }
        if (IsKept(item)) {
            log_.Line("MSI (s): %s was there before the product: it stays", item.fields[0].c_str());
            continue;
        }
        going.push_back(item.fields[0]);
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
    // Folders made for the files go with them once empty.
    RemoveEmptyFolders({});
    ForgetRemoved({Kind::File});
    return true;
}

void Session::RemoveEmptyFolders(std::vector<std::string> folders) {
    for (const InstalledItem& item : record_.items) {
        if (item.kind == Kind::Folder && Removing(item.component) && !item.fields.empty()) {
            folders.push_back(item.fields[0]);
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
    ForgetRemoved({Kind::Folder});
}

bool Session::RemoveFolders() {
    std::vector<std::string> folders;
    for (const RemoveFileRow& row : package_.RemoveFiles()) {
        if (Applies(row) && row.fileName.empty()) {
            if (const std::string folder = FolderProperty(row.directory); !folder.empty()) {
                folders.push_back(folder);
            }
        }
    }
    RemoveEmptyFolders(std::move(folders));
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
        if (!existed && !IsSystemFolder(folder)) {
            Note(row.component, Kind::Folder, {folder});
        }
    }
    return true;
}

}  // namespace stubframework::platform::msi::detail
