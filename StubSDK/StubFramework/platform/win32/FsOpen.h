// Opening files without following links, shared by the file layer's parts:
// every call that writes opens with FILE_FLAG_OPEN_REPARSE_POINT and looks at
// what it opened before it writes a byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/win32/Win32.h"

namespace stubframework::platform::fs {
enum class Readers;
}

namespace stubframework::platform::win32 {

inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Our writers let others read (and rename or delete, as on POSIX), never write.
inline constexpr DWORD kShareWithReaders = FILE_SHARE_READ | FILE_SHARE_DELETE;
inline constexpr DWORD kNoFollow = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
inline constexpr DWORD kFolderNoFollow = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

// Owns one kernel handle.
class KernelHandle {
public:
    KernelHandle() = default;
    explicit KernelHandle(HANDLE handle) : handle_(handle) {}
    ~KernelHandle() { Reset(); }
    KernelHandle(KernelHandle&& other) noexcept : handle_(other.Release()) {}
    KernelHandle& operator=(KernelHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            handle_ = other.Release();
        }
        return *this;
    }
    KernelHandle(const KernelHandle&) = delete;
    KernelHandle& operator=(const KernelHandle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE Release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }
    void Reset() {
        if (Valid()) {
            CloseHandle(handle_);
        }
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A link is a name surrogate: a symbolic link, a junction, a mount point. A
// reparse point whose tag cannot be read is taken as one (Wine shows the
// links of the Unix side so).
bool IsLinkTag(DWORD attributes, DWORD tag);
// Whether `path` (as the W functions take it) names a link.
bool IsLinkAt(const std::wstring& path);
// kErrorSuccess when a handle opened without following names a plain file;
// kErrorStoppedOnSymlink for a link, kErrorAccessDenied for a folder.
std::uint32_t CheckPlainFile(HANDLE handle);

enum class Disposition { kCreateNew, kOpenAlways };

// Opens `path` for writing without following a link in its last part; a
// file this call makes has our DACL. `created` tells which happened. With
// kCreateNew an existing name gives kErrorFileExists.
std::uint32_t OpenForWriting(const std::wstring& path, DWORD access, DWORD share,
                             Disposition disposition, fs::Readers readers, KernelHandle& out,
                             bool& created);

// Writes every byte; `written` counts those that reached the file.
bool WriteAll(HANDLE file, const std::uint8_t* data, std::size_t size, std::size_t& written);

// The error FileHandle::Write and ReplaceFileContent fail with (0: none).
std::uint32_t InjectedWriteFailure();

}  // namespace stubframework::platform::win32
