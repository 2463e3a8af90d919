// The registry: keys under a few roots, values typed like Windows values.
// Names compare without regard to case. Every call returns a Win32 error
// code (kErrorSuccess, kErrorFileNotFound for a missing key or value, ...).
//
// Views: the stub is a 32-bit program on Windows, so its default view is the
// 32-bit one, where HKLM\SOFTWARE is redirected to HKLM\SOFTWARE\WOW6432Node.
// HKCU\Software is shared by both views.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stubframework::platform::registry {

enum class Root { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig, DynData };
enum class View { Default, Wow64_64, Wow64_32 };
enum class Access { Read, All };

inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

// The canonical name of a root ("HKEY_LOCAL_MACHINE", ...).
const char* RootName(Root root);

namespace detail {
struct KeyState;
}

// An open key. Closing is automatic; the handle stays valid (and reports
// kErrorKeyDeleted) if another process deletes the key meanwhile.
class Key {
public:
    Key();
    ~Key();
    Key(Key&&) noexcept;
    Key& operator=(Key&&) noexcept;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    bool IsOpen() const { return state_ != nullptr; }
    void Close();
    // The key's path below its root, as the caller spelled it after view redirection.
    const std::string& Path() const;

private:
    friend struct detail::KeyState;
    std::unique_ptr<detail::KeyState> state_;
};

std::uint32_t OpenKey(Root root, std::string_view subKey, View view, Access access, Key& out);
// Opens the key, creating it and any missing parents. `created` tells whether it was new.
std::uint32_t CreateKey(Root root, std::string_view subKey, View view, Key& out,
                        bool* created = nullptr);
std::uint32_t OpenSubKey(const Key& parent, std::string_view subKey, Access access, Key& out);

std::uint32_t QueryValue(const Key& key, std::string_view name, std::uint32_t& type,
                         std::vector<std::uint8_t>& data);
std::uint32_t SetValue(const Key& key, std::string_view name, std::uint32_t type,
                       std::span<const std::uint8_t> data);
std::uint32_t DeleteValue(const Key& key, std::string_view name);

// Subkeys come in case-insensitive name order; kErrorNoMoreItems past the end.
std::uint32_t EnumKey(const Key& key, std::uint32_t index, std::string& name);
// Values come in the order they were created; type and data are optional.
std::uint32_t EnumValue(const Key& key, std::uint32_t index, std::string& name,
                        std::uint32_t* type = nullptr, std::vector<std::uint8_t>* data = nullptr);

// RegDeleteKeyEx: a key that still has subkeys is not deleted (kErrorAccessDenied).
std::uint32_t DeleteKey(Root root, std::string_view subKey, View view);
// SHDeleteKey: the key with all its subkeys and values.
std::uint32_t DeleteTree(Root root, std::string_view subKey, View view);

// REG_SZ data for a text: UTF-16LE with the terminating null.
std::vector<std::uint8_t> TextData(std::string_view text);
// The text of REG_SZ / REG_EXPAND_SZ data, up to the first null.
std::string DataText(std::span<const std::uint8_t> data);

}  // namespace stubframework::platform::registry
