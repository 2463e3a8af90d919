#include "platform/posix/msi/Transaction.h"

#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <variant>

#include "platform/error.h"

namespace stubframework::platform::msi::detail {
namespace {

namespace stdfs = std::filesystem;
namespace reg = platform::registry;

struct FileCreated {
    std::string path;
};
// A file replaced or removed: its old content waits at `backup`.
struct FileKept {
    std::string path;
    std::string backup;
};
struct FolderCreated {
    std::string path;
};
struct FolderRemoved {
    std::string path;
};
struct KeyCreated {
    reg::Root root;
    reg::View view;
    std::string key;
};
struct OldValue {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};
struct ValueChanged {
    reg::Root root;
    reg::View view;
    std::string key;
    std::string name;
    std::optional<OldValue> old;  // none: the value was not there
};
// A deleted key tree: every key below it (relative, "" for itself) and its values.
struct TreeDeleted {
    reg::Root root;
    reg::View view;
    std::string key;
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, OldValue>>>> keys;
};

void Chmod(const std::string& path, fs::Readers readers, bool program) {
    const mode_t owner = program ? 0700 : 0600;
    const mode_t others = program ? 0055 : 0044;
    ::chmod(path.c_str(), owner | (readers == fs::Readers::kEveryone ? others : 0));
}

bool KeyExists(reg::Root root, reg::View view, const std::string& key) {
    reg::Key handle;
    return reg::OpenKey(root, key, view, reg::Access::Read, handle) == kErrorSuccess;
}

void Snapshot(reg::Root root, reg::View view, const std::string& key, const std::string& relative,
              TreeDeleted& tree, int depth = 0) {
    reg::Key handle;
    const std::string path = relative.empty() ? key : key + "\\" + relative;
    if (depth > 64 || reg::OpenKey(root, path, view, reg::Access::Read, handle) != kErrorSuccess) {
        return;
    }
    std::vector<std::pair<std::string, OldValue>> values;
    std::string name;
    OldValue value;
    for (std::uint32_t i = 0;
         reg::EnumValue(handle, i, name, &value.type, &value.data) == kErrorSuccess; ++i) {
        values.emplace_back(name, value);
    }
    tree.keys.emplace_back(relative, std::move(values));
    std::vector<std::string> children;
    for (std::uint32_t i = 0; reg::EnumKey(handle, i, name) == kErrorSuccess; ++i) {
        children.push_back(name);
    }
    for (const std::string& child : children) {
        std::string below = relative;
        if (!below.empty()) {
            below += '\\';
        }
        below += child;
        Snapshot(root, view, key, below, tree, depth + 1);
    }
}

}  // namespace

struct Transaction::Step {
    std::variant<FileCreated, FileKept, FolderCreated, FolderRemoved, KeyCreated, ValueChanged,
                 TreeDeleted>
        change;
};

Transaction::Transaction(std::string backupRoot) : backupRoot_(std::move(backupRoot)) {}

Transaction::~Transaction() {
    // Neither kept nor undone: an installation that ended without a word
    // keeps nothing half done.
    if (!done_) {
        try {
            Rollback();
        } catch (...) {  // out of memory: what is undone stays undone
        }
    }
}

bool Transaction::EnsureBackupFolder() {
    if (!backups_.empty()) {
        return true;
    }
    const std::string parent = backupRoot_ + "/Config.Msi";
    if (fs::CreateFolderTree(parent) != kErrorSuccess || fs::IsLink(parent)) {
        return false;
    }
    return fs::CreateRandomFolder(parent + "/rollback-", backups_) == kErrorSuccess;
}

std::string Transaction::NextBackupPath() {
    return backups_ + "/" + std::to_string(++backupCount_);
}

bool Transaction::PlaceFile(const std::string& source, const std::string& target,
                            fs::Readers readers, bool program, Source how) {
    // Written through, a link would put the file wherever it points.
    if (fs::IsLink(target) || fs::IsFolder(target) ||
        !MakeFolder(stdfs::path(target).parent_path().string(), readers)) {
        return false;
    }
    const std::string fresh = target + ".stub-new";
    fs::DeleteFile(fresh);
    const std::uint32_t placed = how == Source::kTake ? fs::RenameNoReplace(source, fresh)
                                                      : fs::CopyFile(source, fresh, true);
    if (placed != kErrorSuccess) {
        return false;
    }
    Chmod(fresh, readers, program);
    if (!fs::Exists(target)) {
        if (fs::RenameNoReplace(fresh, target) != kErrorSuccess) {
            fs::DeleteFile(fresh);
            return false;
        }
        steps_.push_back({FileCreated{target}});
        return true;
    }
    if (!EnsureBackupFolder()) {
        fs::DeleteFile(fresh);
        return false;
    }
    const std::string backup = NextBackupPath();
    if (fs::RenameNoReplace(target, backup) != kErrorSuccess) {
        fs::DeleteFile(fresh);
        return false;
    }
    if (fs::RenameNoReplace(fresh, target) != kErrorSuccess) {
        fs::RenameNoReplace(backup, target);
        fs::DeleteFile(fresh);
        return false;
    }
    steps_.push_back({FileKept{target, backup}});
    return true;
}

bool Transaction::RemoveFile(const std::string& path) {
    if (!fs::Exists(path) && !fs::IsLink(path)) {
        return true;
    }
    if (!EnsureBackupFolder()) {
        return false;
    }
    const std::string backup = NextBackupPath();
    if (fs::RenameNoReplace(path, backup) != kErrorSuccess) {
        return false;
    }
    steps_.push_back({FileKept{path, backup}});
    return true;
}

bool Transaction::MakeFolder(const std::string& path, fs::Readers readers,
                             std::vector<std::string>* made) {
    std::vector<std::string> missing;
    for (stdfs::path folder = path; !folder.empty() && folder != folder.root_path();
         folder = folder.parent_path()) {
        if (fs::IsLink(folder.string())) {
            return false;
        }
        if (fs::IsFolder(folder.string())) {
            break;
        }
        missing.push_back(folder.string());
    }
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        if (fs::CreateFolder(*folder, readers) != kErrorSuccess) {
            return false;
        }
        steps_.push_back({FolderCreated{*folder}});
        if (made != nullptr) {
            made->push_back(*folder);
        }
    }
    return true;
}

bool Transaction::RemoveEmptyFolder(const std::string& path) {
    if (fs::IsLink(path) || fs::RemoveFolder(path) != kErrorSuccess) {
        return false;
    }
    steps_.push_back({FolderRemoved{path}});
    return true;
}

void Transaction::NoteKeyPath(reg::Root root, reg::View view, const std::string& key) {
    std::vector<std::string> missing;
    for (std::string path = key; !path.empty() && !KeyExists(root, view, path);) {
        missing.push_back(path);
        const std::size_t slash = path.rfind('\\');
        path = slash == std::string::npos ? std::string() : path.substr(0, slash);
    }
    for (auto made = missing.rbegin(); made != missing.rend(); ++made) {
        steps_.push_back({KeyCreated{root, view, *made}});
    }
}

bool Transaction::CreateKey(reg::Root root, reg::View view, const std::string& key) {
    NoteKeyPath(root, view, key);
    reg::Key handle;
    return reg::CreateKey(root, key, view, handle) == kErrorSuccess;
}

bool Transaction::SetValue(reg::Root root, reg::View view, const std::string& key,
                           const std::string& name, std::uint32_t type,
                           const std::vector<std::uint8_t>& data) {
    NoteKeyPath(root, view, key);
    reg::Key handle;
    if (reg::CreateKey(root, key, view, handle) != kErrorSuccess) {
        return false;
    }
    ValueChanged change{root, view, key, name, std::nullopt};
    OldValue old;
    if (reg::QueryValue(handle, name, old.type, old.data) == kErrorSuccess) {
        change.old = std::move(old);
    }
    if (reg::SetValue(handle, name, type, data) != kErrorSuccess) {
        return false;
    }
    steps_.push_back({std::move(change)});
    return true;
}

bool Transaction::DeleteValue(reg::Root root, reg::View view, const std::string& key,
                              const std::string& name) {
    reg::Key handle;
    if (reg::OpenKey(root, key, view, reg::Access::All, handle) != kErrorSuccess) {
        return true;
    }
    OldValue old;
    if (reg::QueryValue(handle, name, old.type, old.data) != kErrorSuccess) {
        return true;
    }
    if (reg::DeleteValue(handle, name) != kErrorSuccess) {
        return false;
    }
    steps_.push_back({ValueChanged{root, view, key, name, std::move(old)}});
    return true;
}

bool Transaction::DeleteTree(reg::Root root, reg::View view, const std::string& key) {
    if (!KeyExists(root, view, key)) {
        return true;
    }
    TreeDeleted tree{root, view, key, {}};
    Snapshot(root, view, key, "", tree);
    if (reg::DeleteTree(root, key, view) != kErrorSuccess) {
        return false;
    }
    steps_.push_back({std::move(tree)});
    return true;
}

void Transaction::Commit() {
    done_ = true;
    steps_.clear();
    if (!backups_.empty()) {
        std::error_code ignored;
        stdfs::remove_all(backups_, ignored);
        stdfs::remove(stdfs::path(backups_).parent_path(), ignored);  // only when empty
        backups_.clear();
    }
}

bool Transaction::Rollback() {
    done_ = true;
    bool whole = true;
    for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
        std::visit(
            [&whole](auto& change) {
                using T = std::decay_t<decltype(change)>;
                if constexpr (std::is_same_v<T, FileCreated>) {
                    fs::DeleteFile(change.path);
                } else if constexpr (std::is_same_v<T, FileKept>) {
                    fs::DeleteFile(change.path);
                    whole &= fs::RenameNoReplace(change.backup, change.path) == kErrorSuccess;
                } else if constexpr (std::is_same_v<T, FolderCreated>) {
                    fs::RemoveFolder(change.path);  // only when empty
                } else if constexpr (std::is_same_v<T, FolderRemoved>) {
                    fs::CreateFolder(change.path);
                } else if constexpr (std::is_same_v<T, KeyCreated>) {
                    reg::DeleteKey(change.root, change.key, change.view);
                } else if constexpr (std::is_same_v<T, ValueChanged>) {
                    reg::Key handle;
                    if (reg::CreateKey(change.root, change.key, change.view, handle) !=
                        kErrorSuccess) {
                        whole = false;
                    } else if (change.old) {
                        whole &= reg::SetValue(handle, change.name, change.old->type,
                                               change.old->data) == kErrorSuccess;
                    } else {
                        reg::DeleteValue(handle, change.name);
                    }
                } else {
                    for (const auto& [relative, values] : change.keys) {
                        const std::string path =
                            relative.empty() ? change.key : change.key + "\\" + relative;
                        reg::Key handle;
                        if (reg::CreateKey(change.root, path, change.view, handle) !=
                            kErrorSuccess) {
                            whole = false;
                            continue;
                        }
                        for (const auto& [name, value] : values) {
                            whole &= reg::SetValue(handle, name, value.type, value.data) ==
                                     kErrorSuccess;
                        }
                    }
                }
            },
            step->change);
    }
    steps_.clear();
    if (whole && !backups_.empty()) {
        std::error_code ignored;
        stdfs::remove_all(backups_, ignored);
        stdfs::remove(stdfs::path(backups_).parent_path(), ignored);
    }
    return whole;
}

}  // namespace stubframework::platform::msi::detail
