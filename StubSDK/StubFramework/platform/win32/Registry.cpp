// The registry over the Win32 registry calls.
//
// Paths are checked here the way the header's callers expect on every
// platform: a leading backslash or an empty component is kErrorBadKey, one
// trailing backslash is ignored, a name ends at its first null, a key name
// is at most 255 UTF-16 units, a value name at most 16383, a path at most
// 512 keys deep (kErrorInvalidParameter). Windows itself does the view
// redirection; Path() only shows where it leads.
//
// View::Default is the 32-bit view whatever this program's own width, so the
// 64-bit build sees what the shipped 32-bit program sees.
#include "platform/registry.h"

#include <limits>
#include <new>
#include <stdexcept>

#include "platform/common/RegistryNames.h"
#include "platform/error.h"
#include "platform/unicode.h"
#include "platform/win32/Win32.h"

namespace stubframework::platform::registry {

namespace detail {

struct KeyState {
    HKEY handle = nullptr;
    View view = View::Default;
    Root root = Root::LocalMachine;
    std::vector<std::string> parts;  // as spelled, before redirection
    std::string path;                // after redirection

    KeyState() = default;
    KeyState(const KeyState&) = delete;
    KeyState& operator=(const KeyState&) = delete;
    ~KeyState() {
        if (handle != nullptr) {
            RegCloseKey(handle);
        }
    }

    static const KeyState* Of(const Key& key) { return key.state_.get(); }
    static void Attach(Key& key, std::unique_ptr<KeyState> state) { key.state_ = std::move(state); }
};

}  // namespace detail

namespace {

using detail::CleanName;
using detail::Guarded;
using detail::JoinPath;
using detail::KeyState;
using detail::kMaxDepth;
using detail::kMaxKeyNameUnits;
using detail::kMaxValueNameUnits;
using detail::SplitPath;

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// Only a 64-bit Windows keeps 32-bit software apart; a 32-bit one has no
// WOW6432Node to redirect to.
bool HasWow64Registry() {
    static const bool has = [] {
        SYSTEM_INFO info{};
        GetNativeSystemInfo(&info);
        return info.wProcessorArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
    }();
    return has;
}

bool IsThirtyTwoBit(View view) {
    return view != View::Wow64_64;
}

REGSAM ViewFlag(View view) {
    return IsThirtyTwoBit(view) ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

REGSAM AccessFlags(Access access, View view) {
    return (access == Access::All ? KEY_ALL_ACCESS : KEY_READ) | ViewFlag(view);
}

// Where the 32-bit view puts HKLM\SOFTWARE\X: HKLM\SOFTWARE\WOW6432Node\X.
std::string RedirectedPath(Root root, View view, std::vector<std::string> parts) {
    if (root == Root::LocalMachine && IsThirtyTwoBit(view) && HasWow64Registry() &&
        !parts.empty() && FoldCase(parts[0]) == "SOFTWARE" &&
        (parts.size() < 2 || FoldCase(parts[1]) != "WOW6432NODE")) {
        parts.insert(parts.begin() + 1, "WOW6432Node");
    }
    return JoinPath(parts);
}

// HKEY_DYN_DATA has no storage on Windows NT: nothing, not even Windows, is
// asked about it.
std::uint32_t RootHandle(Root root, HKEY& out) {
    switch (root) {
        case Root::ClassesRoot:
            out = HKEY_CLASSES_ROOT;
            return kErrorSuccess;
        case Root::CurrentUser:
            out = HKEY_CURRENT_USER;
            return kErrorSuccess;
        case Root::LocalMachine:
            out = HKEY_LOCAL_MACHINE;
            return kErrorSuccess;
        case Root::Users:
            out = HKEY_USERS;
            return kErrorSuccess;
        case Root::CurrentConfig:
            out = HKEY_CURRENT_CONFIG;
            return kErrorSuccess;
        case Root::DynData:
            break;
    }
    return kErrorInvalidHandle;
}

std::uint32_t OpenPath(Root root, std::string_view subKey, View view, Access access, bool create,
                       Key& out, bool* created) {
    out.Close();
    auto state = std::make_unique<KeyState>();
    state->root = root;
    state->view = view;
    HKEY rootHandle = nullptr;
    if (const std::uint32_t error = SplitPath(subKey, state->parts)) {
        return error;
    }
    if (const std::uint32_t error = RootHandle(root, rootHandle)) {
        return error;
    }
    const std::u16string path = Utf8ToUtf16(JoinPath(state->parts));
    LSTATUS status = ERROR_SUCCESS;
    if (create) {
        DWORD disposition = 0;
        status =
            RegCreateKeyExW(rootHandle, Wide(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            AccessFlags(Access::All, view), nullptr, &state->handle, &disposition);
        if (status == ERROR_SUCCESS && created != nullptr) {
            *created = disposition == REG_CREATED_NEW_KEY;
        }
    } else {
        status =
            RegOpenKeyExW(rootHandle, Wide(path), 0, AccessFlags(access, view), &state->handle);
    }
    if (status != ERROR_SUCCESS) {
        state->handle = nullptr;
        return static_cast<std::uint32_t>(status);
    }
    state->path = RedirectedPath(root, view, state->parts);
    KeyState::Attach(out, std::move(state));
    return kErrorSuccess;
}

std::uint32_t RemovePath(Root root, std::string_view subKey, View view, bool tree) {
    std::vector<std::string> parts;
    if (const std::uint32_t error = SplitPath(subKey, parts)) {
        return error;
    }
    HKEY rootHandle = nullptr;
    if (const std::uint32_t error = RootHandle(root, rootHandle)) {
        return error;
    }
    if (parts.empty()) {
        return kErrorAccessDenied;  // a root is never deleted
    }
    const std::u16string path = Utf8ToUtf16(JoinPath(parts));
    if (tree) {
        // The contents through a handle in the right view, then the key.
        HKEY key = nullptr;
        LSTATUS status =
            RegOpenKeyExW(rootHandle, Wide(path), 0, AccessFlags(Access::All, view), &key);
        if (status != ERROR_SUCCESS) {
            return static_cast<std::uint32_t>(status);
        }
        status = RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) {
            return static_cast<std::uint32_t>(status);
        }
    }
    return static_cast<std::uint32_t>(RegDeleteKeyExW(rootHandle, Wide(path), ViewFlag(view), 0));
}

HKEY HandleOf(const Key& key) {
    const KeyState* state = KeyState::Of(key);
    return state != nullptr ? state->handle : nullptr;
}

// RegSetValueEx reads the character after string data and, when it is a
// null the data lacks, stores it too. A guard that is no null keeps the
// stored bytes exactly the caller's and the read inside our buffer.
std::vector<std::uint8_t> GuardedStringData(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> copy(data.begin(), data.end());
    copy.insert(copy.end(), {0xFF, 0xFF});
    return copy;
}

bool IsStringType(std::uint32_t type) {
    return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
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
        if (from == nullptr) {
            out.Close();
            return kErrorInvalidHandle;
        }
        auto state = std::make_unique<KeyState>();
        state->root = from->root;
        state->view = from->view;
        std::vector<std::string> tail;
        std::uint32_t error = SplitPath(subKey, tail);
        if (error == kErrorSuccess && from->parts.size() + tail.size() > kMaxDepth) {
            error = kErrorInvalidParameter;
        }
        if (error == kErrorSuccess) {
            // The parent's view applies below it too (HKLM opened in the
            // 32-bit view, then SOFTWARE\X below it).
            const std::u16string path = Utf8ToUtf16(JoinPath(tail));
            error = static_cast<std::uint32_t>(RegOpenKeyExW(
                from->handle, Wide(path), 0, AccessFlags(access, from->view), &state->handle));
        }
        if (error != kErrorSuccess) {
            state->handle = nullptr;
            out.Close();
            return error;
        }
        state->parts = from->parts;
        state->parts.insert(state->parts.end(), tail.begin(), tail.end());
        state->path = RedirectedPath(state->root, state->view, state->parts);
        KeyState::Attach(out, std::move(state));
        return kErrorSuccess;
    });
}

std::uint32_t QueryValue(const Key& key, std::string_view name, std::uint32_t& type,
                         std::vector<std::uint8_t>& data) {
    return Guarded([&] {
        const HKEY handle = HandleOf(key);
        if (handle == nullptr) {
            return kErrorInvalidHandle;
        }
        const std::u16string wideName = Utf8ToUtf16(CleanName(name));
        // The value may grow between asking its size and reading it.
        std::vector<std::uint8_t> buffer;
        while (true) {
            DWORD valueType = 0;
            DWORD size = 0;
            LSTATUS status =
                RegQueryValueExW(handle, Wide(wideName), nullptr, &valueType, nullptr, &size);
            if (status != ERROR_SUCCESS) {
                return static_cast<std::uint32_t>(status);
            }
            buffer.resize(size);
            if (size > 0) {
                status = RegQueryValueExW(handle, Wide(wideName), nullptr, &valueType,
                                          buffer.data(), &size);
            }
            if (status == ERROR_MORE_DATA) {
                continue;
            }
            if (status != ERROR_SUCCESS) {
                return static_cast<std::uint32_t>(status);
            }
            buffer.resize(size);
            type = valueType;
            data = std::move(buffer);
            return kErrorSuccess;
        }
    });
}

std::uint32_t SetValue(const Key& key, std::string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data) {
    return Guarded([&] {
        const std::string clean = CleanName(name);
        if (Utf16Length(clean) > kMaxValueNameUnits ||
            data.size() > std::numeric_limits<DWORD>::max()) {
            return kErrorInvalidParameter;
        }
        const HKEY handle = HandleOf(key);
        if (handle == nullptr) {
            return kErrorInvalidHandle;
        }
        std::vector<std::uint8_t> guarded;
        const std::uint8_t* bytes = data.empty() ? nullptr : data.data();
        if (IsStringType(type) && !data.empty()) {
            guarded = GuardedStringData(data);
            bytes = guarded.data();
        }
        return static_cast<std::uint32_t>(RegSetValueExW(handle, Wide(Utf8ToUtf16(clean)), 0, type,
                                                         bytes, static_cast<DWORD>(data.size())));
    });
}

std::uint32_t DeleteValue(const Key& key, std::string_view name) {
    return Guarded([&] {
        const HKEY handle = HandleOf(key);
        if (handle == nullptr) {
            return kErrorInvalidHandle;
        }
        return static_cast<std::uint32_t>(
            RegDeleteValueW(handle, Wide(Utf8ToUtf16(CleanName(name)))));
    });
}

std::uint32_t EnumKey(const Key& key, std::uint32_t index, std::string& name) {
    return Guarded([&] {
        const HKEY handle = HandleOf(key);
        if (handle == nullptr) {
            return kErrorInvalidHandle;
        }
        std::u16string buffer(kMaxKeyNameUnits + 1, u'\0');
        auto length = static_cast<DWORD>(buffer.size());
        const LSTATUS status =
            RegEnumKeyExW(handle, index, reinterpret_cast<wchar_t*>(buffer.data()), &length,
                          nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) {
            return static_cast<std::uint32_t>(status);
        }
        buffer.resize(length);
        name = Utf16ToUtf8(buffer);
        return kErrorSuccess;
    });
}

std::uint32_t EnumValue(const Key& key, std::uint32_t index, std::string& name, std::uint32_t* type,
                        std::vector<std::uint8_t>* data) {
    return Guarded([&] {
        const HKEY handle = HandleOf(key);
        if (handle == nullptr) {
            return kErrorInvalidHandle;
        }
        std::u16string buffer;
        std::vector<std::uint8_t> bytes;
        DWORD valueType = 0;
        // The value may grow between asking its size and reading it.
        while (true) {
            buffer.assign(kMaxValueNameUnits + 1, u'\0');
            auto length = static_cast<DWORD>(buffer.size());
            DWORD size = 0;
            auto* wideName = reinterpret_cast<wchar_t*>(buffer.data());
            LSTATUS status = RegEnumValueW(handle, index, wideName, &length, nullptr, &valueType,
                                           nullptr, data != nullptr ? &size : nullptr);
            if (status == ERROR_SUCCESS && data != nullptr && size > 0) {
                bytes.resize(size);
                length = static_cast<DWORD>(buffer.size());
                status = RegEnumValueW(handle, index, wideName, &length, nullptr, &valueType,
                                       bytes.data(), &size);
                if (status == ERROR_MORE_DATA) {
                    continue;
                }
            }
            if (status != ERROR_SUCCESS) {
                return static_cast<std::uint32_t>(status);
            }
            buffer.resize(length);
            bytes.resize(size);
            break;
        }
        name = Utf16ToUtf8(buffer);
        if (type != nullptr) {
            *type = valueType;
        }
        if (data != nullptr) {
            *data = std::move(bytes);
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
