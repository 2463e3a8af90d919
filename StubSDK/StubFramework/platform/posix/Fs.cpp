#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "pe/PeImage.h"
#include "platform/error.h"
#include "platform/fs.h"

namespace stubframework::platform::fs {
namespace {

constexpr mode_t kPrivateFolder = 0700;
constexpr mode_t kPrivateFile = 0600;
constexpr mode_t kSharedFolder = 0755;
constexpr mode_t kSharedFile = 0644;

mode_t FolderMode(Readers readers) {
    return readers == Readers::kEveryone ? kSharedFolder : kPrivateFolder;
}

mode_t FileMode(Readers readers) {
    return readers == Readers::kEveryone ? kSharedFile : kPrivateFile;
}

std::atomic<std::uint32_t> injectedWriteFailure{0};

struct InjectedFreeSpace {
    std::mutex mutex;
    std::optional<std::uint64_t> bytes;
};

std::atomic<bool> readOnlyVolumes{false};

// The deepest part of `path` that exists: the volume it lies on.
std::string DeepestExisting(std::string path) {
    struct stat info {};
    while (!path.empty() && lstat(path.c_str(), &info) != 0) {
        const std::size_t slash = path.find_last_of(kPathSeparator);
        const std::size_t keep = slash == std::string::npos ? 0 : std::max<std::size_t>(slash, 1);
        if (keep == path.size()) {
            break;
        }
        path.resize(keep);
    }
    return path.empty() ? std::string(".") : path;
}

InjectedFreeSpace& FreeSpaceOverride() {
    static InjectedFreeSpace state;
    return state;
}

// Reads until `size` bytes are in or the file ends: a short read is not the
// end. At `offset` without moving the position, or (offset < 0) from it.
std::int64_t ReadFully(int fd, void* buffer, std::size_t size, std::int64_t offset) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got =
            offset < 0 ? read(fd, bytes + total, size - total)
                       : pread(fd, bytes + total, size - total,
                               static_cast<off_t>(offset + static_cast<std::int64_t>(total)));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(total);
}

std::uint32_t LastError() {
    return Win32ErrorFromErrno(errno);
}

struct FdCloser {
    int fd = -1;
    ~FdCloser() {
        if (fd >= 0) {
            close(fd);
        }
    }
};

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// A folder of this user's, given `mode`: refuses links and folders of others.
std::uint32_t SetFolderMode(const std::string& path, mode_t mode) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return LastError();
    }
    if (S_ISLNK(info.st_mode)) {
        return kErrorStoppedOnSymlink;
    }
    const FdCloser folder{open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (folder.fd < 0) {
        return errno == ENOTDIR ? kErrorDirectory : LastError();
    }
    if (fstat(folder.fd, &info) != 0) {
        return LastError();
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid()) {
        return kErrorAccessDenied;
    }
    if ((info.st_mode & 07777) != mode && fchmod(folder.fd, mode) != 0) {
        return LastError();
    }
    return kErrorSuccess;
}

// Opens `path` for writing without following a link in its last part; a file
// this call makes is private whatever the umask. `created` tells which.
int OpenForWriting(const std::string& path, int flags, mode_t mode, bool& created) {
    flags |= O_CLOEXEC | O_NOFOLLOW;
    int fd = -1;
    created = false;
    if ((flags & O_CREAT) != 0) {
        fd = open(path.c_str(), flags | O_EXCL, mode);
        created = fd >= 0;
        if (fd < 0 && errno != EEXIST) {
            return -1;
        }
        if (fd < 0 && (flags & O_EXCL) != 0) {
            return -1;
        }
    }
    if (fd < 0) {
        fd = open(path.c_str(), flags & ~O_CREAT);
    }
    if (created && fchmod(fd, mode) != 0) {
        const int error = errno;
        close(fd);
        unlink(path.c_str());
        errno = error;
        return -1;
    }
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

std::optional<std::string> TempPath() {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
    if (path.back() != kPathSeparator) {
        path += kPathSeparator;
    }
    return path;
}

std::optional<std::string> LongPathName(const std::string& path) {
    // Linux names have no short form; the long form is the path itself.
    if (!Exists(path)) {
        return std::nullopt;
    }
    return path;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsLink(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::uint32_t CreateFolder(const std::string& path, Readers readers) {
    const mode_t mode = FolderMode(readers);
    if (mkdir(path.c_str(), mode) != 0) {
        return LastError();
    }
    // mkdir took the umask off; set the mode through the folder itself, never
    // through whatever may have taken its name since.
    return SetFolderMode(path, mode);
}

std::uint32_t ClaimFolder(const std::string& path) {
    return SetFolderMode(path, kPrivateFolder);
}

std::uint32_t CreateRandomFolder(const std::string& prefix, std::string& folder) {
    std::string pattern = prefix + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return LastError();
    }
    folder = pattern;
    return SetFolderMode(folder, kPrivateFolder);
}

std::uint32_t FreeSpace(const std::string& path, std::uint64_t& bytes, FreeCount count) {
    {
        InjectedFreeSpace& injected = FreeSpaceOverride();
        const std::lock_guard<std::mutex> lock(injected.mutex);
        if (injected.bytes) {
            bytes = *injected.bytes;
            return kErrorSuccess;
        }
    }
    struct statvfs volume {};
    if (statvfs(DeepestExisting(path).c_str(), &volume) != 0) {
        return LastError();
    }
    // What this process may still write: root may use the reserved blocks.
    const bool all = count == FreeCount::kTotal || geteuid() == 0;
    const std::uint64_t blocks = all ? volume.f_bfree : volume.f_bavail;
    bytes = blocks * volume.f_frsize;
    return kErrorSuccess;
}

bool IsReadOnlyVolume(const std::string& path) {
    if (readOnlyVolumes) {
        return true;
    }
    struct statvfs volume {};
    return statvfs(DeepestExisting(path).c_str(), &volume) == 0 && (volume.f_flag & ST_RDONLY) != 0;
}

std::uint32_t CreateFolderTree(const std::string& path, Readers readers) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    if (IsFolder(path)) {
        return kErrorSuccess;
    }
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == kPathSeparator) {
        trimmed.pop_back();
    }
    const std::size_t slash = trimmed.rfind(kPathSeparator);
    if (slash != std::string::npos && slash > 0) {
        const std::uint32_t parent = CreateFolderTree(trimmed.substr(0, slash), readers);
        if (parent != kErrorSuccess) {
            return parent;
        }
    }
    const std::uint32_t result = CreateFolder(trimmed, readers);
    return result == kErrorAlreadyExists && IsFolder(trimmed) ? kErrorSuccess : result;
}

std::uint32_t DeleteFile(const std::string& path) {
    return unlink(path.c_str()) == 0 ? kErrorSuccess : LastError();
}

std::uint32_t RemoveFolder(const std::string& path) {
    return rmdir(path.c_str()) == 0 ? kErrorSuccess : LastError();
}

std::uint32_t ListFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    entries.clear();
    const std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
    if (!dir) {
        return LastError();
    }
    std::string prefix = path;
    if (prefix.back() != kPathSeparator) {
        prefix += kPathSeparator;
    }
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        FolderEntry item{entry->d_name, false};
        if (item.name == "." || item.name == "..") {
            continue;
        }
        if (entry->d_type == DT_DIR) {
            item.isFolder = true;
        } else if (entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            item.isFolder =
                lstat((prefix + item.name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        }
        entries.push_back(std::move(item));
    }
    if (errno != 0) {
        return LastError();
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return kErrorSuccess;
}

std::uint32_t MoveReplacing(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0 ? kErrorSuccess : LastError();
}

std::uint32_t ReplaceFileContent(const std::string& path, std::span<const std::uint8_t> data,
                                 Readers readers) {
    std::string staged = path + ".XXXXXX";
    FdCloser file{mkostemp(staged.data(), O_CLOEXEC)};
    if (file.fd < 0) {
        return LastError();
    }
    std::uint32_t error = injectedWriteFailure.load();
    if (error == kErrorSuccess &&
        (fchmod(file.fd, FileMode(readers)) != 0 ||
         !WriteAll(file.fd, reinterpret_cast<const char*>(data.data()), data.size()) ||
         fsync(file.fd) != 0)) {
        error = LastError();
    }
    if (error == kErrorSuccess && rename(staged.c_str(), path.c_str()) != 0) {
        error = LastError();
    }
    if (error != kErrorSuccess) {
        unlink(staged.c_str());
        return error;
    }
    // The rename itself reaches the disk with the folder.
    const std::size_t slash = path.find_last_of(kPathSeparator);
    const std::string folderPath = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const FdCloser folder{open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (folder.fd >= 0) {
        fsync(folder.fd);
    }
    return kErrorSuccess;
}

std::uint32_t RenameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return kErrorSuccess;
    }
    if (errno != EXDEV) {
        return LastError();
    }
    // Another volume: a file is copied (never over a target) and then removed.
    struct stat info {};
    if (lstat(from.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return kErrorNotSameDevice;
    }
    const std::uint32_t copied = CopyFile(from, to, true);
    if (copied != kErrorSuccess) {
        return copied;
    }
    if (unlink(from.c_str()) != 0) {
        const std::uint32_t error = LastError();
        unlink(to.c_str());
        return error;
    }
    return kErrorSuccess;
}

// Linux has no version resources of its own: a version comes from a PE
// image's resource or from a version block a program carries.
std::string FileVersion(const std::string& path) {
    const std::optional<pe::FileVersion> version = pe::ReadFileVersionOfFile(path);
    return version ? pe::FormatFileVersion(*version) : std::string();
}

namespace {

// In the kernel where it can (the bytes never pass through this process, and
// file systems that share extents clone them); by reading and writing where
// it cannot, on from where the kernel stopped. Files that say they are
// empty (those of /proc among them) are read: the kernel would copy nothing.
bool CopyContent(int from, int to, off_t size) {
    while (size > 0) {
        const ssize_t moved = copy_file_range(from, nullptr, to, nullptr, std::size_t{1} << 30, 0);
        if (moved == 0) {
            return true;
        }
        if (moved < 0 && errno != EINTR) {
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP) {
                return false;
            }
            break;
        }
    }
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = read(from, buffer, sizeof buffer);
        if (got == 0) {
            return true;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 || !WriteAll(to, buffer, static_cast<std::size_t>(got))) {
            return false;
        }
    }
}

}  // namespace

std::uint32_t CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
    FdCloser source{open(from.c_str(), O_RDONLY | O_CLOEXEC)};
    if (source.fd < 0) {
        return LastError();
    }
    struct stat info {};
    if (fstat(source.fd, &info) != 0) {
        return LastError();
    }
    if (S_ISDIR(info.st_mode)) {
        return kErrorAccessDenied;
    }
    // Private: a program stays runnable by its owner, nobody else gets in.
    const mode_t mode = kPrivateFile | (info.st_mode & S_IXUSR);
    const int flags = O_WRONLY | O_CREAT | (failIfExists ? O_EXCL : O_TRUNC);
    bool created = false;
    FdCloser target{OpenForWriting(to, flags, mode, created)};
    if (target.fd < 0) {
        return errno == EEXIST ? kErrorFileExists : LastError();
    }
    if (!CopyContent(source.fd, target.fd, info.st_size)) {
        const std::uint32_t error = LastError();
        unlink(to.c_str());  // never leave a half-written copy behind
        return error;
    }
    fchmod(target.fd, mode);
    return kErrorSuccess;
}

File OpenForAppend(const std::string& path) {
    bool created = false;
    const int fd = OpenForWriting(path, O_RDWR | O_APPEND | O_CREAT, kPrivateFile, created);
    if (fd < 0) {
        return File();
    }
    File file(fdopen(fd, "a+"));
    if (!file) {
        close(fd);
    }
    return file;
}

FileHandle::~FileHandle() {
    Close();
}

FileHandle::FileHandle(FileHandle&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void FileHandle::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

std::uint32_t FileHandle::Open(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return LastError();
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        return kErrorAccessDenied;
    }
    Close();
    fd_ = fd;
    return kErrorSuccess;
}

std::uint32_t FileHandle::OpenUnshared(const std::string& path) {
    const std::uint32_t opened = Open(path);
    if (opened != kErrorSuccess) {
        return opened;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const std::uint32_t error = errno == EWOULDBLOCK ? kErrorSharingViolation : LastError();
        Close();
        return error;
    }
    return kErrorSuccess;
}

std::uint32_t FileHandle::OpenAlways(const std::string& path) {
    return OpenExclusive(path, O_RDWR | O_CREAT);
}

std::uint32_t FileHandle::CreateAlways(const std::string& path) {
    return OpenExclusive(path, O_WRONLY | O_CREAT);
}

std::uint32_t FileHandle::OpenExclusive(const std::string& path, int flags) {
    bool created = false;
    const int fd = OpenForWriting(path, flags, kPrivateFile, created);
    if (fd < 0) {
        return LastError();
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return kErrorAccessDenied;
    }
    // No sharing, as on Windows: two writers would interleave their blocks.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const std::uint32_t error = errno == EWOULDBLOCK ? kErrorSharingViolation : LastError();
        close(fd);
        return error;
    }
    // Emptied only once it is ours: a file another writer holds stays whole.
    if ((flags & O_WRONLY) != 0 && ftruncate(fd, 0) != 0) {
        const std::uint32_t error = LastError();
        close(fd);
        return error;
    }
    Close();
    fd_ = fd;
    return kErrorSuccess;
}

std::int64_t FileHandle::Read(void* buffer, std::size_t size) {
    return ReadFully(fd_, buffer, size, -1);
}

std::int64_t FileHandle::ReadAt(std::int64_t offset, void* buffer, std::size_t size) const {
    return offset < 0 ? -1 : ReadFully(fd_, buffer, size, offset);
}

std::uint32_t FileHandle::Write(const void* data, std::size_t size, std::size_t& written) {
    const auto* bytes = static_cast<const char*>(data);
    written = 0;
    if (const std::uint32_t injected = injectedWriteFailure.load(); injected != 0) {
        return injected;
    }
    while (written < size) {
        const ssize_t put = write(fd_, bytes + written, size - written);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            return LastError();
        }
        if (put == 0) {
            return kErrorDiskFull;
        }
        written += static_cast<std::size_t>(put);
    }
    return kErrorSuccess;
}

std::uint32_t FileHandle::Seek(std::int64_t offset) {
    if (offset < 0) {
        return kErrorInvalidParameter;
    }
    return lseek(fd_, offset, SEEK_SET) == offset ? kErrorSuccess : LastError();
}

std::int64_t FileHandle::Position() const {
    return static_cast<std::int64_t>(lseek(fd_, 0, SEEK_CUR));
}

std::uint32_t FileHandle::SetEnd() {
    const off_t position = lseek(fd_, 0, SEEK_CUR);
    if (position < 0) {
        return LastError();
    }
    return ftruncate(fd_, position) == 0 ? kErrorSuccess : LastError();
}

std::int64_t FileHandle::Size() const {
    struct stat info {};
    return fstat(fd_, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

FileLock::~FileLock() {
    Release();
}

std::uint32_t FileLock::Acquire(const std::string& path, std::uint32_t timeoutMs) {
    Release();
    bool created = false;
    FdCloser lock{OpenForWriting(path, O_RDONLY | O_CREAT | O_NONBLOCK, kSharedFile, created)};
    if (lock.fd < 0) {
        return LastError();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return LastError();
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return kErrorSharingViolation;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    fd_ = lock.fd;
    lock.fd = -1;
    return kErrorSuccess;
}

void FileLock::Release() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

std::uint32_t MarkExecutable(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return LastError();
    }
    if (S_ISLNK(info.st_mode)) {
        return kErrorStoppedOnSymlink;
    }
    return chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR) == 0 ? kErrorSuccess : LastError();
}

std::uint32_t LastFileError() {
    return LastError();
}

void InjectWriteFailure(std::uint32_t error) {
    injectedWriteFailure = error;
}

void InjectFreeSpace(std::optional<std::uint64_t> bytes) {
    InjectedFreeSpace& injected = FreeSpaceOverride();
    const std::lock_guard<std::mutex> lock(injected.mutex);
    injected.bytes = bytes;
}

void InjectReadOnlyVolumes(bool readOnly) {
    readOnlyVolumes = readOnly;
}

std::string FromPagePath(std::string_view path) {
    std::string native(path);
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

bool IsFullPath(std::string_view path) {
    return !path.empty() && path.front() == '/';
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace stubframework::platform::fs
