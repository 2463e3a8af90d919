// The registry over the SQLite store of RegistryStore.h.
//
// Paths: components are separated by single backslashes. A leading backslash
// or an empty component (two backslashes in a row) is kErrorBadKey; one
// trailing backslash is ignored, as Windows does. Names end at the first null
// character, as they would at a Win32 call. A key name is at most 255 UTF-16
// units, a value name at most 16383, and a path at most 512 keys deep
// (kErrorInvalidParameter).
//
// HKEY_DYN_DATA has no storage on Windows NT and none here: every call on it
// gives kErrorInvalidHandle, what NT answers for that root.
//
// After fork() a child gets kErrorInvalidHandle for its parent's handles and
// for files its parent has open: SQLite's locks belong to a process.
#include "platform/registry.h"

#include <algorithm>
#include <new>
#include <optional>
#include <stdexcept>

#include "platform/common/RegistryNames.h"
#include "platform/error.h"
#include "platform/posix/registry/RegistryStore.h"
#include "platform/unicode.h"

namespace stubframework::platform::registry {

namespace detail {

struct KeyState {
    std::shared_ptr<Database> db;
    Root root = Root::LocalMachine;
    View view = View::Default;
    Access access = Access::Read;
    std::vector<std::string> parts;  // after redirection
    std::string path;
    std::int64_t id = 0;

    static const KeyState* Of(const Key& key) { return key.state_.get(); }
    static void Attach(Key& key, std::unique_ptr<KeyState> state) { key.state_ = std::move(state); }
};

}  // namespace detail

namespace {

using detail::CleanName;
using detail::Database;
using detail::Guarded;
using detail::Hive;
using detail::JoinPath;
using detail::KeyState;
using detail::kMaxDepth;
using detail::kMaxValueNameUnits;
using detail::SplitPath;
using detail::Transaction;
using detail::ValueRow;

// The 32-bit view sees HKLM\SOFTWARE\X at HKLM\SOFTWARE\WOW6432Node\X.
void Redirect(Root root, View view, std::vector<std::string>& parts) {
    if (root != Root::LocalMachine || view == View::Wow64_64 || parts.empty() ||
        FoldCase(parts[0]) != "SOFTWARE") {
        return;
    }
    if (parts.size() > 1 && FoldCase(parts[1]) == "WOW6432NODE") {
        return;
    }
    parts.insert(parts.begin() + 1, "WOW6432Node");
}

std::uint32_t OpenRootHive(Root root, std::shared_ptr<Database>& out) {
    switch (root) {
        case Root::DynData:
            return kErrorInvalidHandle;
        case Root::CurrentUser:
            return detail::OpenHive(Hive::User, out);
        default:
            return detail::OpenHive(Hive::Machine, out);
    }
}

// Follows `parts` from `from` (inside the caller's transaction), creating the
// missing keys when `create` is set.
std::uint32_t Walk(Database& db, std::int64_t from, std::span<const std::string> parts, bool create,
                   std::int64_t& id, bool* created) {
    id = from;
    bool madeAny = false;
    for (const std::string& part : parts) {
        std::optional<std::int64_t> child;
        if (const std::uint32_t error = db.FindChild(id, part, child)) {
            return error;
        }
        if (child) {
            id = *child;
        } else if (!create) {
            return kErrorFileNotFound;
        } else if (const std::uint32_t error = db.InsertChild(id, part, id)) {
            return error;
        } else {
            madeAny = true;
        }
    }
    if (created != nullptr) {
        // Once one key was missing, every key after it was too.
        *created = madeAny;
    }
    return kErrorSuccess;
}

// Where a walk starts: the root of the hive, or an open key whose first
// `depth` parts are already resolved.
struct Start {
    std::optional<std::int64_t> key;
    std::size_t depth = 0;
};

std::uint32_t StartId(Database& db, Root root, const Start& start, std::int64_t& id) {
    if (!start.key) {
        return db.RootKeyId(RootName(root), id);
    }
    bool exists = false;
    if (const std::uint32_t error = db.KeyExists(*start.key, exists)) {
        return error;
    }
    id = *start.key;
    return exists ? kErrorSuccess : kErrorKeyDeleted;
}

std::uint32_t Resolve(std::unique_ptr<KeyState>& state, const Start& start, bool create,
                      bool* created) {
    Database& db = *state->db;
    const std::lock_guard lock(db.Mutex());
    Transaction transaction(db, create ? Transaction::Mode::Write : Transaction::Mode::Read);
    if (const std::uint32_t error = transaction.Begin()) {
        return error;
    }
    std::int64_t from = 0;
    if (const std::uint32_t error = StartId(db, state->root, start, from)) {
        return error;
    }
    const std::span<const std::string> rest = std::span(state->parts).subspan(start.depth);
    if (const std::uint32_t error = Walk(db, from, rest, create, state->id, created)) {
        return error;
    }
    return transaction.Commit();
}

std::uint32_t OpenPath(Root root, std::string_view subKey, View view, Access access, bool create,
                       Key& out, bool* created) {
    auto state = std::make_unique<KeyState>();
    state->root = root;
    state->view = view;
    state->access = create ? Access::All : access;
    std::uint32_t error = SplitPath(subKey, state->parts);
    if (error == kErrorSuccess) {
        Redirect(root, view, state->parts);
        state->path = JoinPath(state->parts);
        error = OpenRootHive(root, state->db);
    }
    if (error == kErrorSuccess) {
        error = Resolve(state, Start{}, create, created);
    }
    if (error != kErrorSuccess) {
        out.Close();
        return error;
    }
    KeyState::Attach(out, std::move(state));
    return kErrorSuccess;
}

// A call on an open key: holds the connection lock and a transaction, and
// has already checked that the handle is usable and the key still exists.
class KeyCall {
public:
    KeyCall(const Key& key, bool writing) : state_(KeyState::Of(key)) {
        if (state_ == nullptr || !state_->db->OwnedByThisProcess()) {
            error_ = kErrorInvalidHandle;
            return;
        }
        if (writing && state_->access != Access::All) {
            error_ = kErrorAccessDenied;
            return;
        }
        lock_ = std::unique_lock(state_->db->Mutex());
        transaction_.emplace(*state_->db,
                             writing ? Transaction::Mode::Write : Transaction::Mode::Read);
        error_ = transaction_->Begin();
        bool exists = false;
        if (error_ == kErrorSuccess) {
            error_ = state_->db->KeyExists(state_->id, exists);
        }
        if (error_ == kErrorSuccess && !exists) {
            error_ = kErrorKeyDeleted;
        }
    }

    std::uint32_t Error() const { return error_; }
    Database& Db() const { return *state_->db; }
    std::int64_t Id() const { return state_->id; }
    std::uint32_t Commit() { return transaction_->Commit(); }

private:
    const KeyState* state_;
    std::unique_lock<std::mutex> lock_;
    std::optional<Transaction> transaction_;
    std::uint32_t error_ = kErrorSuccess;
};

std::uint32_t RemovePath(Root root, std::string_view subKey, View view, bool tree) {
    std::vector<std::string> parts;
    if (const std::uint32_t error = SplitPath(subKey, parts)) {
        return error;
    }
    if (root == Root::DynData) {
        return kErrorInvalidHandle;
    }
    if (parts.empty()) {
        return kErrorAccessDenied;  // a root is never deleted
    }
    Redirect(root, view, parts);
    std::shared_ptr<Database> db;
    if (const std::uint32_t error = OpenRootHive(root, db)) {
        return error;
    }
    const std::lock_guard lock(db->Mutex());
    Transaction transaction(*db, Transaction::Mode::Write);
    std::int64_t id = 0;
    std::uint32_t error = transaction.Begin();
    if (error == kErrorSuccess) {
        error = StartId(*db, root, Start{}, id);
    }
    if (error == kErrorSuccess) {
        error = Walk(*db, id, parts, false, id, nullptr);
    }
    bool hasChildren = false;
    if (error == kErrorSuccess && !tree) {
        error = db->HasChildren(id, hasChildren);
    }
    if (error == kErrorSuccess && hasChildren) {
        error = kErrorAccessDenied;
    }
    if (error == kErrorSuccess) {
        error = tree ? db->RemoveTree(id) : db->RemoveKey(id);
    }
    return error == kErrorSuccess ? transaction.Commit() : error;
}

}  // namespace

Key::Key() = default;
Key::~Key() = default;
Key::Key(Key&&) noexcept = default;
Key& Key::operator=(Key&&) noexcept = default;

void Key::Close() {
    state_.reset();
}

const std::string& Key::Path() const {
    static const std::string kNone;
    return state_ ? state_->path : kNone;
}

std::uint32_t OpenKey(Root root, std::string_view subKey, View view, Access access, Key& out) {
    return Guarded([&] { return OpenPath(root, subKey, view, access, false, out, nullptr); });
}

std::uint32_t CreateKey(Root root, std::string_view subKey, View view, Key& out, bool* created) {
    return Guarded([&] { return OpenPath(root, subKey, view, Access::All, true, out, created); });
}

std::uint32_t OpenSubKey(const Key& parent, std::string_view subKey, Access access, Key& out) {
    return Guarded([&] {
        const KeyState* from = KeyState::Of(parent);
        if (from == nullptr || !from->db->OwnedByThisProcess()) {
            return kErrorInvalidHandle;
        }
        auto state = std::make_unique<KeyState>(*from);
        state->access = access;
        std::vector<std::string> tail;
        std::uint32_t error = SplitPath(subKey, tail);
        Start start{from->id, from->parts.size()};
        if (error == kErrorSuccess && from->parts.size() + tail.size() > kMaxDepth) {
            error = kErrorInvalidParameter;
        }
        if (error == kErrorSuccess) {
            state->parts.insert(state->parts.end(), tail.begin(), tail.end());
            Redirect(state->root, state->view, state->parts);
            // Redirection can only move keys below a root handle, but walk
            // from the root whenever the parent's own path changed.
            if (!std::equal(from->parts.begin(), from->parts.end(), state->parts.begin())) {
                start = Start{};
            }
            state->path = JoinPath(state->parts);
            error = Resolve(state, start, false, nullptr);
        }
        if (error != kErrorSuccess) {
            out.Close();
            return error;
        }
        KeyState::Attach(out, std::move(state));
        return kErrorSuccess;
    });
}

std::uint32_t QueryValue(const Key& key, std::string_view name, std::uint32_t& type,
                         std::vector<std::uint8_t>& data) {
    return Guarded([&] {
        KeyCall call(key, false);
        if (call.Error() != kErrorSuccess) {
            return call.Error();
        }
        std::optional<ValueRow> row;
        if (const std::uint32_t error = call.Db().FindValue(call.Id(), CleanName(name), row)) {
            return error;
        }
        if (!row) {
            return kErrorFileNotFound;
        }
        type = row->type;
        data = std::move(row->data);
        return kErrorSuccess;
    });
}

std::uint32_t SetValue(const Key& key, std::string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data) {
    return Guarded([&] {
        const std::string clean = CleanName(name);
        if (Utf16Length(clean) > kMaxValueNameUnits) {
            return kErrorInvalidParameter;
        }
        KeyCall call(key, true);
        if (call.Error() != kErrorSuccess) {
            return call.Error();
        }
        if (const std::uint32_t error = call.Db().PutValue(call.Id(), clean, type, data)) {
            return error;
        }
        return call.Commit();
    });
}

std::uint32_t DeleteValue(const Key& key, std::string_view name) {
    return Guarded([&] {
        KeyCall call(key, true);
        if (call.Error() != kErrorSuccess) {
            return call.Error();
        }
        bool removed = false;
        if (const std::uint32_t error =
                call.Db().RemoveValue(call.Id(), CleanName(name), removed)) {
            return error;
        }
        return removed ? call.Commit() : kErrorFileNotFound;
    });
}

std::uint32_t EnumKey(const Key& key, std::uint32_t index, std::string& name) {
    return Guarded([&] {
        KeyCall call(key, false);
        if (call.Error() != kErrorSuccess) {
            return call.Error();
        }
        bool found = false;
        if (const std::uint32_t error = call.Db().ChildAt(call.Id(), index, name, found)) {
            return error;
        }
        return found ? kErrorSuccess : kErrorNoMoreItems;
    });
}

std::uint32_t EnumValue(const Key& key, std::uint32_t index, std::string& name, std::uint32_t* type,
                        std::vector<std::uint8_t>* data) {
    return Guarded([&] {
        KeyCall call(key, false);
        if (call.Error() != kErrorSuccess) {
            return call.Error();
        }
        std::optional<ValueRow> row;
        if (const std::uint32_t error = call.Db().ValueAt(call.Id(), index, data != nullptr, row)) {
            return error;
        }
        if (!row) {
            return kErrorNoMoreItems;
        }
        name = std::move(row->name);
        if (type != nullptr) {
            *type = row->type;
        }
        if (data != nullptr) {
            *data = std::move(row->data);
        }
        return kErrorSuccess;
    });
}

std::uint32_t DeleteKey(Root root, std::string_view subKey, View view) {
    return Guarded([&] { return RemovePath(root, subKey, view, false); });
}

std::uint32_t DeleteTree(Root root, std::string_view subKey, View view) {
    return Guarded([&] { return RemovePath(root, subKey, view, true); });
}

}  // namespace stubframework::platform::registry
