#include "platform/posix/registry/RegistryStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/registry.h"
#include "platform/unicode.h"

namespace stubframework::platform::registry::detail {
namespace {

constexpr int kBusyTimeoutMs = 10000;
// Marks our files so that a foreign SQLite database is never taken for a hive.
constexpr std::int64_t kApplicationId = 0x53524547;  // "SREG"
constexpr std::int64_t kSchemaVersion = 1;
constexpr std::size_t kMaxCachedFiles = 8;
constexpr const char* kMachineFolder = "/var/lib/stubframework/registry";

constexpr std::array<const char*, 1> kUserRoots{"HKEY_CURRENT_USER"};
constexpr std::array<const char*, 4> kMachineRoots{"HKEY_LOCAL_MACHINE", "HKEY_CLASSES_ROOT",
                                                   "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

std::uint32_t ErrnoError(int error, std::uint32_t fallback) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return kErrorAccessDenied;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        default:
            return fallback;
    }
}

std::uint32_t SqliteError(sqlite3* db, int rc, bool writing) {
    const std::uint32_t fallback = writing ? kErrorCantWrite : kErrorCantRead;
    switch (rc & 0xFF) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return kErrorBusy;
        case SQLITE_FULL:
            return kErrorDiskFull;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH:
            return kErrorAccessDenied;
        case SQLITE_NOMEM:
            return kErrorNotEnoughMemory;
        case SQLITE_TOOBIG:
            return kErrorInvalidParameter;
        case SQLITE_CANTOPEN:
        case SQLITE_IOERR:
            return db != nullptr ? ErrnoError(sqlite3_system_errno(db), fallback) : fallback;
        default:
            return fallback;
    }
}

// A prepared statement. A failed prepare or bind is kept and reported by Step().
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        sqlite3_stmt* raw = nullptr;
        rc_ = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
        handle_.reset(raw);
    }

    Statement& Bind(int index, std::int64_t value) {
        Keep(sqlite3_bind_int64(handle_.get(), index, value));
        return *this;
    }
    Statement& Bind(int index, std::string_view text) {
        Keep(sqlite3_bind_text64(handle_.get(), index, text.data(), text.size(), SQLITE_TRANSIENT,
                                 SQLITE_UTF8));
        return *this;
    }
    Statement& BindBlob(int index, std::span<const std::uint8_t> data) {
        // A null pointer would bind NULL; an empty value is a zero-length blob.
        Keep(data.empty() ? sqlite3_bind_zeroblob(handle_.get(), index, 0)
                          : sqlite3_bind_blob64(handle_.get(), index, data.data(), data.size(),
                                                SQLITE_TRANSIENT));
        return *this;
    }

    // SQLITE_ROW, SQLITE_DONE or the error.
    int Step() {
        if (rc_ != SQLITE_OK) {
            return rc_;
        }
        return sqlite3_step(handle_.get());
    }

    std::int64_t Int(int column) const { return sqlite3_column_int64(handle_.get(), column); }
    std::string Text(int column) const {
        const auto* text = sqlite3_column_text(handle_.get(), column);
        const int size = sqlite3_column_bytes(handle_.get(), column);
        return text == nullptr ? std::string()
                               : std::string(reinterpret_cast<const char*>(text),
                                             static_cast<std::size_t>(size));
    }
    std::vector<std::uint8_t> Blob(int column) const {
        const auto* data =
            static_cast<const std::uint8_t*>(sqlite3_column_blob(handle_.get(), column));
        const int size = sqlite3_column_bytes(handle_.get(), column);
        return data == nullptr ? std::vector<std::uint8_t>()
                               : std::vector<std::uint8_t>(data, data + size);
    }

private:
    void Keep(int rc) {
        if (rc_ == SQLITE_OK) {
            rc_ = rc;
        }
    }

    StatementHandle handle_;
    int rc_ = SQLITE_OK;
};

std::uint32_t StepDone(sqlite3* db, Statement& statement, bool writing) {
    const int rc = statement.Step();
    return rc == SQLITE_DONE || rc == SQLITE_ROW ? kErrorSuccess : SqliteError(db, rc, writing);
}

// Steps to the first row; `found` tells whether there was one.
std::uint32_t StepRow(sqlite3* db, Statement& statement, bool& found) {
    const int rc = statement.Step();
    found = rc == SQLITE_ROW;
    return rc == SQLITE_ROW || rc == SQLITE_DONE ? kErrorSuccess : SqliteError(db, rc, false);
}

// The store's folder, private when we make it.
std::uint32_t EnsureFolder(const std::filesystem::path& folder) {
    if (const std::uint32_t error = fs::CreateFolderTree(folder.string())) {
        return error;
    }
    std::error_code error;
    return std::filesystem::is_directory(folder, error) ? kErrorSuccess : kErrorPathNotFound;
}

// A new database file is made private before SQLite opens it; its journal
// files take the same permissions from it.
std::uint32_t PrepareDatabaseFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno == EEXIST ? kErrorSuccess : ErrnoError(errno, kErrorCantWrite);
    }
    const bool privateFile = fchmod(fd, 0600) == 0;
    close(fd);
    return privateFile ? kErrorSuccess : kErrorAccessDenied;
}

std::filesystem::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* result = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr && result->pw_dir != nullptr) {
        return result->pw_dir;
    }
    return {};
}

std::uint32_t UserFolder(std::filesystem::path& out) {
    std::filesystem::path base;
    // A relative XDG_DATA_HOME is invalid and ignored.
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const std::filesystem::path home = HomeFolder();
        if (home.empty()) {
            return kErrorPathNotFound;
        }
        base = home / ".local" / "share";
    }
    out = base / "stubframework" / "registry";
    return EnsureFolder(out);
}

}  // namespace

std::uint32_t HiveFolder(Hive hive, std::filesystem::path& out) {
    if (const char* dir = std::getenv("STUB_REGISTRY_DIR"); dir != nullptr && *dir != '\0') {
        std::error_code error;
        out = std::filesystem::absolute(dir, error);
        return error ? kErrorPathNotFound : EnsureFolder(out);
    }
    if (hive == Hive::Machine && EnsureFolder(kMachineFolder) == kErrorSuccess &&
        access(kMachineFolder, W_OK | X_OK) == 0) {
        out = kMachineFolder;
        return kErrorSuccess;
    }
    return UserFolder(out);
}

namespace {

struct CachedFile {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    std::shared_ptr<Database> db;
};

// Most recently used last.
struct ConnectionCache {
    std::mutex mutex;
    std::vector<CachedFile> files;
};

ConnectionCache& Cache() {
    static ConnectionCache cache;
    return cache;
}

bool SameFile(const CachedFile& file) {
    struct stat info {};
    return stat(file.path.c_str(), &info) == 0 && info.st_dev == file.device &&
           info.st_ino == file.inode;
}

std::uint32_t OpenAndCache(ConnectionCache& cache, const std::string& path,
                           std::span<const char* const> roots, std::shared_ptr<Database>& out) {
    std::unique_ptr<Database> opened;
    if (const std::uint32_t error = Database::Open(path, roots, opened)) {
        return error;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return ErrnoError(errno, kErrorCantRead);
    }
    if (cache.files.size() >= kMaxCachedFiles) {
        cache.files.erase(cache.files.begin());
    }
    out = std::shared_ptr<Database>(std::move(opened));
    cache.files.push_back(CachedFile{path, info.st_dev, info.st_ino, out});
    return kErrorSuccess;
}

}  // namespace

void SqliteCloser::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

void StatementFinalizer::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

Database::Database(SqliteHandle handle, std::string path)
    : handle_(std::move(handle)), path_(std::move(path)), owner_(getpid()) {}

Database::~Database() {
    if (!OwnedByThisProcess()) {
        // Closing would touch the parent's locks and files; the memory is
        // the child's copy and goes with the process.
        static_cast<void>(handle_.release());
    }
}

bool Database::OwnedByThisProcess() const {
    return owner_ == getpid();
}

std::uint32_t Database::Open(const std::string& path, std::span<const char* const> roots,
                             std::unique_ptr<Database>& out) {
    if (const std::uint32_t error = PrepareDatabaseFile(path)) {
        return error;
    }
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(path.c_str(), &raw,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
    SqliteHandle handle(raw);
    if (rc != SQLITE_OK) {
        return SqliteError(raw, rc, false);
    }
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    auto db = std::make_unique<Database>(std::move(handle), path);
    if (const std::uint32_t error = db->PrepareSchema(roots)) {
        return error;
    }
    out = std::move(db);
    return kErrorSuccess;
}

std::uint32_t Database::Execute(const char* sql, bool writing) {
    Statement statement(handle_.get(), sql);
    int rc = statement.Step();
    while (rc == SQLITE_ROW) {
        rc = statement.Step();
    }
    return rc == SQLITE_DONE ? kErrorSuccess : SqliteError(handle_.get(), rc, writing);
}

std::uint32_t Database::ReadHeader(std::int64_t& applicationId, std::int64_t& version) {
    Statement idQuery(handle_.get(), "PRAGMA application_id");
    bool found = false;
    if (const std::uint32_t error = StepRow(handle_.get(), idQuery, found)) {
        return error;
    }
    applicationId = found ? idQuery.Int(0) : 0;
    Statement versionQuery(handle_.get(), "PRAGMA user_version");
    if (const std::uint32_t error = StepRow(handle_.get(), versionQuery, found)) {
        return error;
    }
    version = found ? versionQuery.Int(0) : 0;
    return kErrorSuccess;
}

std::uint32_t Database::EnableWal() {
    // Two connections switching a new file to WAL at once: the loser upgrades
    // its read lock and SQLite answers BUSY without calling the busy handler,
    // so the wait is ours.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    while (true) {
        Statement statement(handle_.get(), "PRAGMA journal_mode=WAL");
        const int rc = statement.Step();
        if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
            return kErrorSuccess;
        }
        if ((rc & 0xFF) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) {
            return SqliteError(handle_.get(), rc, false);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::uint32_t Database::PrepareSchema(std::span<const char* const> roots) {
    // WAL lets readers run beside a writer; FULL sync makes each commit durable.
    if (const std::uint32_t error = EnableWal()) {
        return error;
    }
    if (const std::uint32_t error = Execute("PRAGMA synchronous=FULL", false)) {
        return error;
    }
    std::int64_t applicationId = 0;
    std::int64_t version = 0;
    if (const std::uint32_t error = ReadHeader(applicationId, version)) {
        return error;
    }
    if (applicationId == kApplicationId && version == kSchemaVersion) {
        return kErrorSuccess;
    }
    if (applicationId != 0 && applicationId != kApplicationId) {
        return kErrorCantRead;
    }
    return CreateSchema(roots);
}

std::uint32_t Database::CreateSchema(std::span<const char* const> roots) {
    Transaction transaction(*this, Transaction::Mode::Write);
    if (const std::uint32_t error = transaction.Begin()) {
        return error;
    }
    // Another process may have created the tables while we waited for the lock.
    std::int64_t applicationId = 0;
    std::int64_t version = 0;
    if (const std::uint32_t error = ReadHeader(applicationId, version)) {
        return error;
    }
    if (applicationId == kApplicationId) {
        return version == kSchemaVersion ? kErrorSuccess : kErrorCantRead;
    }
    Statement tables(handle_.get(), "SELECT count(*) FROM sqlite_master");
    bool found = false;
    if (const std::uint32_t error = StepRow(handle_.get(), tables, found)) {
        return error;
    }
    if (found && tables.Int(0) != 0) {
        return kErrorCantRead;  // somebody else's database
    }
    // AUTOINCREMENT: ids are never reused, so a handle to a deleted key can
    // never see a newer key that took its number.
    static constexpr const char* kSchema[] = {
        "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
        " name TEXT NOT NULL, folded TEXT NOT NULL, UNIQUE(parent, folded))",
        "CREATE TABLE vals(seq INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,"
        " name TEXT NOT NULL, folded TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
        " UNIQUE(key, folded))",
        "CREATE INDEX vals_order ON vals(key, seq)",
        "PRAGMA application_id=1397900615",  // kApplicationId
        "PRAGMA user_version=1",
    };
    static_assert(kApplicationId == 1397900615 && kSchemaVersion == 1);
    for (const char* sql : kSchema) {
        if (const std::uint32_t error = Execute(sql, true)) {
            return error;
        }
    }
    for (const char* root : roots) {
        std::int64_t id = 0;
        if (const std::uint32_t error = InsertChild(0, root, id)) {
            return error;
        }
    }
    return transaction.Commit();
}

std::uint32_t Database::RootKeyId(std::string_view rootName, std::int64_t& id) {
    std::optional<std::int64_t> found;
    if (const std::uint32_t error = FindChild(0, rootName, found)) {
        return error;
    }
    if (!found) {
        return kErrorCantRead;  // every hive file is created with its roots
    }
    id = *found;
    return kErrorSuccess;
}

std::uint32_t Database::KeyExists(std::int64_t id, bool& exists) {
    Statement query(handle_.get(), "SELECT 1 FROM keys WHERE id = ?1");
    query.Bind(1, id);
    return StepRow(handle_.get(), query, exists);
}

std::uint32_t Database::FindChild(std::int64_t parent, std::string_view name,
                                  std::optional<std::int64_t>& child) {
    Statement query(handle_.get(), "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2");
    const std::string folded = FoldCase(name);
    query.Bind(1, parent).Bind(2, folded);
    bool found = false;
    if (const std::uint32_t error = StepRow(handle_.get(), query, found)) {
        return error;
    }
    child = found ? std::optional<std::int64_t>(query.Int(0)) : std::nullopt;
    return kErrorSuccess;
}

std::uint32_t Database::InsertChild(std::int64_t parent, std::string_view name,
                                    std::int64_t& child) {
    Statement insert(handle_.get(), "INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)");
    const std::string folded = FoldCase(name);
    insert.Bind(1, parent).Bind(2, name).Bind(3, folded);
    if (const std::uint32_t error = StepDone(handle_.get(), insert, true)) {
        return error;
    }
    child = sqlite3_last_insert_rowid(handle_.get());
    return kErrorSuccess;
}

std::uint32_t Database::HasChildren(std::int64_t id, bool& has) {
    Statement query(handle_.get(), "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    query.Bind(1, id);
    return StepRow(handle_.get(), query, has);
}

std::uint32_t Database::ChildAt(std::int64_t parent, std::uint32_t index, std::string& name,
                                bool& found) {
    // Byte order of the folded UTF-8 names is code-point order.
    Statement query(handle_.get(),
                    "SELECT name FROM keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2");
    query.Bind(1, parent).Bind(2, static_cast<std::int64_t>(index));
    if (const std::uint32_t error = StepRow(handle_.get(), query, found)) {
        return error;
    }
    name = found ? query.Text(0) : std::string();
    return kErrorSuccess;
}

std::uint32_t Database::FindValue(std::int64_t key, std::string_view name,
                                  std::optional<ValueRow>& out) {
    Statement query(handle_.get(),
                    "SELECT name, type, data FROM vals WHERE key = ?1 AND folded = ?2");
    const std::string folded = FoldCase(name);
    query.Bind(1, key).Bind(2, folded);
    bool found = false;
    if (const std::uint32_t error = StepRow(handle_.get(), query, found)) {
        return error;
    }
    out.reset();
    if (found) {
        out = ValueRow{query.Text(0), static_cast<std::uint32_t>(query.Int(1)), query.Blob(2)};
    }
    return kErrorSuccess;
}

std::uint32_t Database::PutValue(std::int64_t key, std::string_view name, std::uint32_t type,
                                 std::span<const std::uint8_t> data) {
    // Overwriting keeps the row, hence the value's place and first spelling.
    Statement upsert(handle_.get(),
                     "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
                     " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type,"
                     " data = excluded.data");
    const std::string folded = FoldCase(name);
    upsert.Bind(1, key).Bind(2, name).Bind(3, folded).Bind(4, static_cast<std::int64_t>(type));
    upsert.BindBlob(5, data);
    return StepDone(handle_.get(), upsert, true);
}

std::uint32_t Database::RemoveValue(std::int64_t key, std::string_view name, bool& removed) {
    Statement remove(handle_.get(), "DELETE FROM vals WHERE key = ?1 AND folded = ?2");
    const std::string folded = FoldCase(name);
    remove.Bind(1, key).Bind(2, folded);
    if (const std::uint32_t error = StepDone(handle_.get(), remove, true)) {
        return error;
    }
    removed = sqlite3_changes(handle_.get()) > 0;
    return kErrorSuccess;
}

std::uint32_t Database::ValueAt(std::int64_t key, std::uint32_t index, bool withData,
                                std::optional<ValueRow>& out) {
    Statement query(handle_.get(), withData ? "SELECT name, type, data FROM vals WHERE key = ?1"
                                              " ORDER BY seq LIMIT 1 OFFSET ?2"
                                            : "SELECT name, type, NULL FROM vals WHERE key = ?1"
                                              " ORDER BY seq LIMIT 1 OFFSET ?2");
    query.Bind(1, key).Bind(2, static_cast<std::int64_t>(index));
    bool found = false;
    if (const std::uint32_t error = StepRow(handle_.get(), query, found)) {
        return error;
    }
    out.reset();
    if (found) {
        out = ValueRow{query.Text(0), static_cast<std::uint32_t>(query.Int(1)), query.Blob(2)};
    }
    return kErrorSuccess;
}

std::uint32_t Database::RemoveKey(std::int64_t id) {
    Statement values(handle_.get(), "DELETE FROM vals WHERE key = ?1");
    values.Bind(1, id);
    if (const std::uint32_t error = StepDone(handle_.get(), values, true)) {
        return error;
    }
    Statement key(handle_.get(), "DELETE FROM keys WHERE id = ?1");
    key.Bind(1, id);
    return StepDone(handle_.get(), key, true);
}

std::uint32_t Database::RemoveTree(std::int64_t id) {
    // Values first: the tree of keys is needed to find them.
    static constexpr const char* kTree =
        "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL"
        " SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id)";
    const std::string dropValues = std::string(kTree) + " DELETE FROM vals WHERE key IN tree";
    const std::string dropKeys = std::string(kTree) + " DELETE FROM keys WHERE id IN tree";
    for (const std::string& sql : {dropValues, dropKeys}) {
        Statement remove(handle_.get(), sql.c_str());
        remove.Bind(1, id);
        if (const std::uint32_t error = StepDone(handle_.get(), remove, true)) {
            return error;
        }
    }
    return kErrorSuccess;
}

Transaction::~Transaction() {
    if (open_ && sqlite3_get_autocommit(db_.handle_.get()) == 0) {
        static_cast<void>(db_.Execute("ROLLBACK", true));
    }
}

std::uint32_t Transaction::Begin() {
    const bool writing = mode_ == Mode::Write;
    const std::uint32_t error = db_.Execute(writing ? "BEGIN IMMEDIATE" : "BEGIN", writing);
    open_ = error == kErrorSuccess;
    return error;
}

std::uint32_t Transaction::Commit() {
    const std::uint32_t error = db_.Execute("COMMIT", mode_ == Mode::Write);
    if (error == kErrorSuccess) {
        open_ = false;
    }
    return error;
}

std::uint32_t OpenHive(Hive hive, std::shared_ptr<Database>& out) {
    std::filesystem::path folder;
    if (const std::uint32_t error = HiveFolder(hive, folder)) {
        return error;
    }
    const std::string path = (folder / (hive == Hive::User ? "user.db" : "machine.db")).string();
    const std::span<const char* const> roots = hive == Hive::User
                                                   ? std::span<const char* const>(kUserRoots)
                                                   : std::span<const char* const>(kMachineRoots);

    ConnectionCache& cache = Cache();
    const std::lock_guard lock(cache.mutex);
    for (auto it = cache.files.begin(); it != cache.files.end(); ++it) {
        if (it->path != path) {
            continue;
        }
        if (!it->db->OwnedByThisProcess()) {
            // Opened before fork(): SQLite keeps its POSIX locks per process,
            // so a second connection here would not be locked against the parent.
            return kErrorInvalidHandle;
        }
        if (SameFile(*it)) {
            CachedFile hit = std::move(*it);
            cache.files.erase(it);
            out = hit.db;
            cache.files.push_back(std::move(hit));
            return kErrorSuccess;
        }
        cache.files.erase(it);  // replaced or removed underneath us
        break;
    }
    return OpenAndCache(cache, path, roots, out);
}

}  // namespace stubframework::platform::registry::detail
