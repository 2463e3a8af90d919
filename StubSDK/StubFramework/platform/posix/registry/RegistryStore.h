// The SQLite store behind the registry: one database file per hive (the
// current user's keys, the machine's keys), one cached connection per file,
// and the row operations the registry calls are made of.
//
// Callers lock Database::Mutex() for a whole registry call and run its
// statements inside one Transaction, so a call sees and leaves a consistent
// tree even when several threads share the connection and several processes
// share the file.
#pragma once

#include <sqlite3.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stubframework::platform::registry::detail {

enum class Hive { User, Machine };

struct SqliteCloser {
    void operator()(sqlite3* db) const;
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const;
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteCloser>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

struct ValueRow {
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

class Database {
public:
    Database(SqliteHandle handle, std::string path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens the file, switches it to WAL and, when the file is new, creates
    // the tables and the rows of `roots`. A file that is not a registry
    // database is refused.
    static std::uint32_t Open(const std::string& path, std::span<const char* const> roots,
                              std::unique_ptr<Database>& out);

    std::mutex& Mutex() { return mutex_; }
    const std::string& FilePath() const { return path_; }
    // SQLite connections must not cross fork(): a child sees its parent's
    // connection as foreign and never uses or closes it.
    bool OwnedByThisProcess() const;

    std::uint32_t RootKeyId(std::string_view rootName, std::int64_t& id);
    std::uint32_t KeyExists(std::int64_t id, bool& exists);
    // `child` stays empty when there is no such subkey.
    std::uint32_t FindChild(std::int64_t parent, std::string_view name,
                            std::optional<std::int64_t>& child);
    std::uint32_t InsertChild(std::int64_t parent, std::string_view name, std::int64_t& child);
    std::uint32_t HasChildren(std::int64_t id, bool& has);
    // `name` stays empty and `found` false past the last subkey.
    std::uint32_t ChildAt(std::int64_t parent, std::uint32_t index, std::string& name, bool& found);

    std::uint32_t FindValue(std::int64_t key, std::string_view name, std::optional<ValueRow>& out);
    std::uint32_t PutValue(std::int64_t key, std::string_view name, std::uint32_t type,
                           std::span<const std::uint8_t> data);
    std::uint32_t RemoveValue(std::int64_t key, std::string_view name, bool& removed);
    std::uint32_t ValueAt(std::int64_t key, std::uint32_t index, bool withData,
                          std::optional<ValueRow>& out);

    // Removes one key and its values.
    std::uint32_t RemoveKey(std::int64_t id);
    // Removes a key, every key below it and all their values.
    std::uint32_t RemoveTree(std::int64_t id);

private:
    friend class Transaction;

    std::uint32_t Execute(const char* sql, bool writing);
    std::uint32_t EnableWal();
    std::uint32_t PrepareSchema(std::span<const char* const> roots);
    std::uint32_t CreateSchema(std::span<const char* const> roots);
    std::uint32_t ReadHeader(std::int64_t& applicationId, std::int64_t& version);

    SqliteHandle handle_;
    std::string path_;
    pid_t owner_;
    std::mutex mutex_;
};

// One transaction; rolled back unless committed. Writes take the write lock
// at BEGIN (IMMEDIATE) so they wait for other writers instead of failing
// half-way when they upgrade.
class Transaction {
public:
    enum class Mode { Read, Write };
    Transaction(Database& db, Mode mode) : db_(db), mode_(mode) {}
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    std::uint32_t Begin();
    std::uint32_t Commit();

private:
    Database& db_;
    Mode mode_;
    bool open_ = false;
};

// The database of a hive in the folder the environment selects at this
// moment: $STUB_REGISTRY_DIR, else the user's data folder (and the system
// folder for the machine hive when it is writable). Connections are cached
// per file and reopened when the file was replaced or removed.
std::uint32_t OpenHive(Hive hive, std::shared_ptr<Database>& out);

// The folder that holds a hive's database (created when missing). Other
// machine-wide state, such as the installer's lock, lives beside it.
std::uint32_t HiveFolder(Hive hive, std::filesystem::path& out);

}  // namespace stubframework::platform::registry::detail
