// Every change one installation makes to files, folders and the registry,
// with what was there before: a failed installation puts it all back (the
// files it replaced or removed come back from a private backup folder) and
// removes only what it created. Committed, the backups go.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/registry.h"

namespace stubframework::platform::msi::detail {

class Transaction {
public:
    // Backups go to `<backupRoot>/Config.Msi`, made when first needed.
    explicit Transaction(std::string backupRoot);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Whether the source of a placed file stays, or is ours to move (a
    // staged file): a large payload is not written twice.
    enum class Source { kCopy, kTake };
    // Puts `source` at `target` (made readable by `readers`, runnable when
    // `program`), keeping any file there for a rollback. False, with
    // nothing changed at `target`, when it cannot.
    bool PlaceFile(const std::string& source, const std::string& target, fs::Readers readers,
                   bool program, Source how = Source::kCopy);
    // Removes a file, kept for a rollback. True when it is gone (or was never there).
    bool RemoveFile(const std::string& path);
    // Makes a folder and its missing parents, noting those it made (and
    // adding them to `made`, outermost first, when given).
    bool MakeFolder(const std::string& path, fs::Readers readers,
                    std::vector<std::string>* made = nullptr);
    // Removes an empty folder (a rollback makes it again).
    bool RemoveEmptyFolder(const std::string& path);

    bool SetValue(registry::Root root, registry::View view, const std::string& key,
                  const std::string& name, std::uint32_t type,
                  const std::vector<std::uint8_t>& data);
    // Creates a key with no value (its previous absence is noted).
    bool CreateKey(registry::Root root, registry::View view, const std::string& key);
    bool DeleteValue(registry::Root root, registry::View view, const std::string& key,
                     const std::string& name);
    // Deletes a key and everything under it.
    bool DeleteTree(registry::Root root, registry::View view, const std::string& key);

    // Keeps every change; the backups go.
    void Commit();
    // Undoes every change, newest first. Returns false when something could
    // not be put back (the backups of those files are then kept).
    bool Rollback();
    // Where backups that could not be put back were left.
    const std::string& BackupFolder() const { return backups_; }

private:
    struct Step;
    bool EnsureBackupFolder();
    std::string NextBackupPath();
    void NoteKeyPath(registry::Root root, registry::View view, const std::string& key);

    std::string backupRoot_;
    std::string backups_;
    int backupCount_ = 0;
    std::vector<Step> steps_;
    bool done_ = false;
};

}  // namespace stubframework::platform::msi::detail
