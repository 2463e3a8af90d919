#include "platform/win32/Win32.h"
// After windows.h:
#include <fcntl.h>
#include <io.h>
// Names of ours in fs.h, not the A/W macros of windows.h.
#undef CopyFile
#undef DeleteFile

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>
#include <utility>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/win32/FsOpen.h"
#include "platform/win32/FsPath.h"

namespace stubframework::platform::fs {
namespace {

using win32::Disposition;
using win32::KernelHandle;
using win32::kShareAll;
using win32::kShareWithReaders;
using win32::OpenForWriting;
using win32::WidePath;
using win32::WriteAll;

// OpenExclusive's flags.
constexpr int kReadWrite = 0;
constexpr int kWriteTruncating = 1;

// The header keeps an int: kernel handles fit in 32 bits on 64-bit Windows
// too (HandleToLong is how Windows hands them to 32-bit processes).
HANDLE FromFd(int fd) {
    return fd < 0 ? INVALID_HANDLE_VALUE : LongToHandle(fd);
}

std::uint32_t Adopt(KernelHandle& handle, int& fd) {
    if (HandleToLong(handle.Get()) < 0) {
        return kErrorInvalidHandle;
    }
    fd = static_cast<int>(HandleToLong(handle.Release()));
    return kErrorSuccess;
}

// Reads until `size` bytes are in or the file ends; at `offset` when given.
std::int64_t ReadFully(HANDLE file, void* buffer, std::size_t size,
                       std::optional<std::int64_t> offset) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - total, 1u << 30));
        DWORD got = 0;
        OVERLAPPED at{};
        if (offset) {
            const auto position = static_cast<std::uint64_t>(*offset) + total;
            at.Offset = static_cast<DWORD>(position);
            at.OffsetHigh = static_cast<DWORD>(position >> 32);
        }
        if (!ReadFile(file, bytes + total, chunk, &got, offset ? &at : nullptr)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    return static_cast<std::int64_t>(total);
}

}  // namespace

File OpenForAppend(const std::string& path) {
    // Append-only access: every write lands at the end, also when another
    // process appends to the same log.
    KernelHandle file;
    bool created = false;
    if (OpenForWriting(WidePath(path), GENERIC_READ | FILE_APPEND_DATA, kShareAll,
                       Disposition::kOpenAlways, Readers::kOwner, file, created) != kErrorSuccess) {
        return File();
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), _O_APPEND);
    if (fd < 0) {
        return File();
    }
    file.Release();  // the descriptor has it now
    File stream(_fdopen(fd, "a+b"));
    if (!stream) {
        _close(fd);
    }
    return stream;
}

FileHandle::~FileHandle() {
    Close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void FileHandle::Close() {
    if (fd_ >= 0) {
        CloseHandle(FromFd(fd_));
        fd_ = -1;
    }
}

std::uint32_t FileHandle::Open(const std::string& path) {
    KernelHandle file(CreateFileW(WidePath(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return GetLastError();
    }
    Close();
    return Adopt(file, fd_);
}

std::uint32_t FileHandle::OpenUnshared(const std::string& path) {
    KernelHandle file(CreateFileW(WidePath(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return GetLastError();
    }
    Close();
    return Adopt(file, fd_);
}

std::uint32_t FileHandle::OpenAlways(const std::string& path) {
    return OpenExclusive(path, kReadWrite);
}

std::uint32_t FileHandle::CreateAlways(const std::string& path) {
    return OpenExclusive(path, kWriteTruncating);
}

std::uint32_t FileHandle::OpenExclusive(const std::string& path, int flags) {
    const bool truncating = flags == kWriteTruncating;
    const DWORD access = truncating ? GENERIC_WRITE : GENERIC_READ | GENERIC_WRITE;
    KernelHandle file;
    bool created = false;
    const std::uint32_t opened =
        OpenForWriting(WidePath(path), access, kShareWithReaders, Disposition::kOpenAlways,
                       Readers::kOwner, file, created);
    if (opened != kErrorSuccess) {
        return opened;
    }
    // Emptied only once it is ours: a file another writer holds stays whole.
    if (truncating && !created && !SetEndOfFile(file.Get())) {
        return GetLastError();
    }
    Close();
    return Adopt(file, fd_);
}

std::int64_t FileHandle::Read(void* buffer, std::size_t size) {
    if (!IsOpen()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    return ReadFully(FromFd(fd_), buffer, size, std::nullopt);
}

std::int64_t FileHandle::ReadAt(std::int64_t offset, void* buffer, std::size_t size) const {
    if (!IsOpen() || offset < 0) {
        SetLastError(IsOpen() ? ERROR_NEGATIVE_SEEK : ERROR_INVALID_HANDLE);
        return -1;
    }
    // A read at an offset moves a synchronous handle's position: put it back.
    const HANDLE file = FromFd(fd_);
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT)) {
        return -1;
    }
    const std::int64_t got = ReadFully(file, buffer, size, offset);
    const DWORD error = GetLastError();
    SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    SetLastError(error);
    return got;
}

std::uint32_t FileHandle::Write(const void* data, std::size_t size, std::size_t& written) {
    written = 0;
    if (const std::uint32_t injected = win32::InjectedWriteFailure(); injected != 0) {
        return injected;
    }
    if (!IsOpen()) {
        return kErrorInvalidHandle;
    }
    return WriteAll(FromFd(fd_), static_cast<const std::uint8_t*>(data), size, written)
               ? kErrorSuccess
               : GetLastError();
}

std::uint32_t FileHandle::Seek(std::int64_t offset) {
    if (!IsOpen()) {
        return kErrorInvalidHandle;
    }
    if (offset < 0) {
        return kErrorInvalidParameter;
    }
    LARGE_INTEGER to{};
    to.QuadPart = offset;
    return SetFilePointerEx(FromFd(fd_), to, nullptr, FILE_BEGIN) ? kErrorSuccess : GetLastError();
}

std::int64_t FileHandle::Position() const {
    LARGE_INTEGER position{};
    return IsOpen() && SetFilePointerEx(FromFd(fd_), LARGE_INTEGER{}, &position, FILE_CURRENT)
               ? position.QuadPart
               : -1;
}

std::uint32_t FileHandle::SetEnd() {
    if (!IsOpen()) {
        return kErrorInvalidHandle;
    }
    return SetEndOfFile(FromFd(fd_)) ? kErrorSuccess : GetLastError();
}

std::int64_t FileHandle::Size() const {
    LARGE_INTEGER size{};
    return IsOpen() && GetFileSizeEx(FromFd(fd_), &size) ? size.QuadPart : -1;
}

FileLock::~FileLock() {
    Release();
}

std::uint32_t FileLock::Acquire(const std::string& path, std::uint32_t timeoutMs) {
    Release();
    // Read access is all another user has, and all a lock needs.
    KernelHandle file;
    bool created = false;
    const std::uint32_t opened =
        OpenForWriting(WidePath(path), GENERIC_READ, kShareAll, Disposition::kOpenAlways,
                       Readers::kEveryone, file, created);
    if (opened != kErrorSuccess) {
        return opened;
    }
    // Byte ranges lock per handle: two objects of one process exclude each other too.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        OVERLAPPED at{};
        if (LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &at)) {
            break;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) {
            return error;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return kErrorSharingViolation;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return Adopt(file, fd_);
}

void FileLock::Release() {
    if (fd_ >= 0) {
        const HANDLE file = FromFd(fd_);
        OVERLAPPED at{};
        UnlockFileEx(file, 0, 1, 0, &at);  // at once, not whenever the close gets to it
        CloseHandle(file);
        fd_ = -1;
    }
}

}  // namespace stubframework::platform::fs
