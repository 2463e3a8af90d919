// Files and folders. Paths are UTF-8; every call returns a Win32 error code
// (kErrorSuccess on success) or a plain result where failure has one meaning.
//
// The installer runs elevated on machines other people share: every folder
// and file made here is private to its owner (folders 0700, files 0600,
// programs 0700, whatever the umask) unless the call is asked to let every
// user read it, and no call that writes follows a link in the last part of
// its path (kErrorStoppedOnSymlink).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace stubframework::platform::fs {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The user's temporary folder with a trailing separator (GetTempPath).
std::optional<std::string> TempPath();
// The long form of an existing path (GetLongPathName); nothing when the
// path does not exist.
std::optional<std::string> LongPathName(const std::string& path);

bool Exists(const std::string& path);
bool IsFolder(const std::string& path);
// True for a symbolic link, whatever it points to (or whether it points anywhere).
bool IsLink(const std::string& path);

// Who may read what a call makes: its owner only, or every user of the
// machine (machine-wide data; only the owner may still change it).
enum class Readers { kOwner, kEveryone };

// Creates one folder; kErrorAlreadyExists when something is already there.
std::uint32_t CreateFolder(const std::string& path, Readers readers = Readers::kOwner);
// Creates the folder and every missing parent; folders already there keep
// their modes.
std::uint32_t CreateFolderTree(const std::string& path, Readers readers = Readers::kOwner);
// Takes an existing folder as ours: kErrorSuccess (and the folder made
// private) when it is a real folder owned by this user; kErrorStoppedOnSymlink
// for a link, kErrorAccessDenied for anything else.
std::uint32_t ClaimFolder(const std::string& path);
// Makes a new private folder `prefix` + six random characters.
std::uint32_t CreateRandomFolder(const std::string& prefix, std::string& folder);
// Which free bytes of a volume: those this process may still write, or all
// of them (the total GetDiskFreeSpaceEx reports, reserved blocks included).
enum class FreeCount { kUsable, kTotal };
// The bytes free on the volume of `path` (or of its deepest existing parent).
std::uint32_t FreeSpace(const std::string& path, std::uint64_t& bytes,
                        FreeCount count = FreeCount::kUsable);
// Whether the volume of `path` (or of its deepest existing parent) is mounted read-only.
bool IsReadOnlyVolume(const std::string& path);
std::uint32_t DeleteFile(const std::string& path);
// Removes an empty folder.
std::uint32_t RemoveFolder(const std::string& path);

struct FolderEntry {
    std::string name;
    bool isFolder = false;  // a link is never a folder here: it is removed, not descended
};
// The entries of a folder but "." and "..", in name order (byte order).
std::uint32_t ListFolder(const std::string& path, std::vector<FolderEntry>& entries);

// Moves a file, replacing the target in one step (MoveFileEx with
// MOVEFILE_REPLACE_EXISTING): readers see the old file or the new, never none.
std::uint32_t MoveReplacing(const std::string& from, const std::string& to);

// Replaces the whole content of a file in one step: the data goes to a new
// file beside it, reaches the disk, and is renamed over `path`. A crash
// leaves the old content or the new, never part of either; a link at `path`
// is replaced, never written through. On failure `path` is untouched.
std::uint32_t ReplaceFileContent(const std::string& path, std::span<const std::uint8_t> data,
                                 Readers readers = Readers::kOwner);

// Renames a file or folder the way the C runtime's rename does: never over
// an existing target (kErrorAlreadyExists); a file moves across volumes by
// copy and delete.
std::uint32_t RenameNoReplace(const std::string& from, const std::string& to);

// Copies a file, private to its owner (a program stays runnable by them);
// with failIfExists an existing target gives kErrorFileExists.
std::uint32_t CopyFile(const std::string& from, const std::string& to, bool failIfExists);

// The fixed file version of a program's version resource as
// "major.minor.build.revision" (GetFileVersionInfo); "" when it has none.
std::string FileVersion(const std::string& path);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for appending with reading allowed, not inherited by child
// processes. Binary: callers write the exact bytes they want stored.
File OpenForAppend(const std::string& path);

// An open file; closed when the object goes. Every call that can fail gives
// kErrorSuccess or the Win32 error.
class FileHandle {
public:
    FileHandle() = default;
    ~FileHandle();
    FileHandle(FileHandle&& other) noexcept;
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Opens an existing file for reading.
    std::uint32_t Open(const std::string& path);
    // Opens an existing file for reading, shared with no other opener that
    // asks the same (a file our writers hold gives kErrorSharingViolation).
    std::uint32_t OpenUnshared(const std::string& path);
    // Opens for reading and writing, creating the file when missing and
    // keeping it when present (OPEN_ALWAYS). Not shared: a second writer,
    // in this process or another, gets kErrorSharingViolation.
    std::uint32_t OpenAlways(const std::string& path);
    // Opens for writing as a new empty file, replacing any (CREATE_ALWAYS);
    // not shared either.
    std::uint32_t CreateAlways(const std::string& path);
    bool IsOpen() const { return fd_ >= 0; }
    void Close();
    // Reads up to `size` bytes from the current position: the count (0 at
    // the end), or -1 on failure.
    std::int64_t Read(void* buffer, std::size_t size);
    // Reads up to `size` bytes at `offset` without moving the position: the
    // count (short only at the end), or -1 on failure.
    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::size_t size) const;
    // Writes at the current position; `written` is what reached the file,
    // also when the write failed part way.
    std::uint32_t Write(const void* data, std::size_t size, std::size_t& written);
    std::uint32_t Seek(std::int64_t offset);
    // The current position; -1 on failure.
    std::int64_t Position() const;
    // Cuts or extends the file to end at the current position (SetEndOfFile).
    std::uint32_t SetEnd();
    std::int64_t Size() const;

private:
    std::uint32_t OpenExclusive(const std::string& path, int flags);

    int fd_ = -1;
};

// An exclusive lock between processes (and between objects of one
// process), held on a lock file while the object lives.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock on `path`, making the file when missing, readable by
    // everyone so that any user can take it. Waits while another holder has
    // it: kErrorSharingViolation when `timeoutMs` ran out first.
    std::uint32_t Acquire(const std::string& path, std::uint32_t timeoutMs);
    bool IsHeld() const { return fd_ >= 0; }
    void Release();

private:
    int fd_ = -1;
};

// Lets the owner run the file (where the system has such a bit).
std::uint32_t MarkExecutable(const std::string& path);

// The Win32 error of the calling thread's last failed file call (a read
// that returned -1, say).
std::uint32_t LastFileError();

// Makes every FileHandle::Write fail with `error` (0 turns it off): the
// tests' stand-in for a full volume where none can be mounted.
void InjectWriteFailure(std::uint32_t error);
// Makes FreeSpace answer `bytes` (nothing turns it off): the tests' stand-in
// for a volume that is too small.
void InjectFreeSpace(std::optional<std::uint64_t> bytes);
// For tests: every volume counts as read-only (or as it is, with false).
void InjectReadOnlyVolumes(bool readOnly);

// The last path component.
std::string FileName(const std::string& path);

// A path as a page writes it (Windows separators) as this system spells it.
std::string FromPagePath(std::string_view path);
// A full path rather than one relative to the current folder: "C:\..." or
// "\\server\share\..." on Windows, "/..." elsewhere.
bool IsFullPath(std::string_view path);

}  // namespace stubframework::platform::fs
