#include "platform/win32/Win32.h"
// After windows.h:
#include <bcrypt.h>
#include <winver.h>
// Names of ours in fs.h, not the A/W macros of windows.h.
#undef CopyFile
#undef DeleteFile

#include <algorithm>
#include <atomic>
#include <cctype>
#include <mutex>
#include <utility>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/win32/FileSecurity.h"
#include "platform/win32/FsOpen.h"
#include "platform/win32/FsPath.h"

namespace stubframework::platform::fs {
namespace {

using win32::ApplyFileSecurity;
using win32::CheckPlainFile;
using win32::Disposition;
using win32::FileSecurity;
using win32::FullPathName;
using win32::IsLinkAt;
using win32::IsLinkTag;
using win32::IsPathSeparator;
using win32::KernelHandle;
using win32::kFolderNoFollow;
using win32::kNoFollow;
using win32::kShareAll;
using win32::NarrowText;
using win32::OpenForWriting;
using win32::PathFromSystem;
using win32::PathRootLength;
using win32::WidePath;
using win32::WriteAll;

std::atomic<bool> readOnlyVolumes{false};

struct InjectedFreeSpace {
    std::mutex mutex;
    std::optional<std::uint64_t> bytes;
};

InjectedFreeSpace& FreeSpaceOverride() {
    static InjectedFreeSpace state;
    return state;
}

struct FindCloser {
    void operator()(HANDLE find) const { FindClose(find); }
};
using FindHandle = std::unique_ptr<void, FindCloser>;

std::uint32_t LastError() {
    return GetLastError();
}

std::uint32_t RandomText(std::size_t count, std::string& text) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::vector<UCHAR> bytes(count);
    const NTSTATUS status = BCryptGenRandom(nullptr, bytes.data(), static_cast<ULONG>(count),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
        return kErrorNotEnoughMemory;
    }
    text.clear();
    for (const UCHAR byte : bytes) {
        text += kAlphabet[byte % (sizeof kAlphabet - 1)];
    }
    return kErrorSuccess;
}

bool IsFolderAttributes(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return true;
    }
    // Through the link, as stat goes.
    const KernelHandle target(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    return target.Valid() && GetFileInformationByHandle(target.Get(), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The deepest existing folder of `path`, with a trailing separator: the
// volume it lies on. Empty for the current folder's volume.
std::wstring DeepestExistingFolder(const std::string& path) {
    const std::size_t root = PathRootLength(path);
    std::string folder = path;
    while (folder.size() > root && !IsFolderAttributes(WidePath(folder))) {
        const std::size_t slash = folder.find_last_of("\\/");
        folder.resize(slash == std::string::npos ? root : std::max(slash, root));
    }
    std::wstring wide = WidePath(folder);
    if (!wide.empty() && wide.back() != L'\\') {
        wide += L'\\';  // UNC roots need it
    }
    return wide;
}

// A fresh copy made private whatever its source let others do, and
// writable by its owner (CopyFileW takes the source's attributes along).
std::uint32_t MakeCopyOurs(const std::wstring& copy) {
    const KernelHandle file(CreateFileW(
        copy.c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
        kShareAll, nullptr, OPEN_EXISTING, kNoFollow, nullptr));
    if (!file.Valid()) {
        return LastError();
    }
    if (const std::uint32_t plain = CheckPlainFile(file.Get()); plain != kErrorSuccess) {
        return plain;
    }
    if (const std::uint32_t secured = ApplyFileSecurity(file.Get(), Readers::kOwner, false);
        secured != kErrorSuccess) {
        return secured;
    }
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(file.Get(), FileBasicInfo, &basic, sizeof basic)) {
        return LastError();
    }
    if ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return kErrorSuccess;
    }
    basic.FileAttributes &= ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 would leave them as they are
    }
    basic.CreationTime.QuadPart = 0;  // zero times stay as they are
    basic.LastAccessTime.QuadPart = 0;
    basic.LastWriteTime.QuadPart = 0;
    basic.ChangeTime.QuadPart = 0;
    return SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic)
               ? kErrorSuccess
               : LastError();
}

}  // namespace

std::optional<std::string> TempPath() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        return std::nullopt;
    }
    return NarrowText(std::wstring_view(buffer, length));
}

std::optional<std::string> LongPathName(const std::string& path) {
    const std::wstring wide = WidePath(path);
    DWORD size = GetLongPathNameW(wide.c_str(), nullptr, 0);
    if (size == 0) {
        return std::nullopt;
    }
    std::wstring longName(size, L'\0');
    size = GetLongPathNameW(wide.c_str(), longName.data(), size);
    if (size == 0 || size >= longName.size()) {
        return std::nullopt;
    }
    longName.resize(size);
    return PathFromSystem(longName, path);
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
    return IsFolderAttributes(WidePath(path));
}

bool IsLink(const std::string& path) {
    return IsLinkAt(WidePath(path));
}

std::uint32_t CreateFolder(const std::string& path, Readers readers) {
    FileSecurity security(readers, true);
    if (security.Error() != kErrorSuccess) {
        return security.Error();
    }
    return CreateDirectoryW(WidePath(path).c_str(), security.Attributes()) ? kErrorSuccess
                                                                           : LastError();
}

std::uint32_t CreateFolderTree(const std::string& path, Readers readers) {
    if (path.empty()) {
        return kErrorPathNotFound;
    }
    if (IsFolder(path)) {
        return kErrorSuccess;
    }
    std::string trimmed = path;
    while (trimmed.size() > 1 && IsPathSeparator(trimmed.back())) {
        trimmed.pop_back();
    }
    const std::size_t slash = trimmed.find_last_of("\\/");
    if (slash != std::string::npos && slash > 0) {
        std::string parent = trimmed.substr(0, slash);
        if (parent.size() == 2 && parent[1] == ':') {
            parent += '\\';
        }
        if (parent != trimmed) {
            const std::uint32_t made = CreateFolderTree(parent, readers);
            if (made != kErrorSuccess) {
                return made;
            }
        }
    }
    const std::uint32_t result = CreateFolder(trimmed, readers);
    return result == kErrorAlreadyExists && IsFolder(trimmed) ? kErrorSuccess : result;
}

std::uint32_t ClaimFolder(const std::string& path) {
    const std::wstring wide = WidePath(path);
    if (IsLinkAt(wide)) {
        return kErrorStoppedOnSymlink;
    }
    const KernelHandle folder(
        CreateFileW(wide.c_str(), READ_CONTROL | WRITE_DAC | FILE_READ_ATTRIBUTES, kShareAll,
                    nullptr, OPEN_EXISTING, kFolderNoFollow, nullptr));
    if (!folder.Valid()) {
        return LastError();
    }
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!GetFileInformationByHandleEx(folder.Get(), FileAttributeTagInfo, &info, sizeof info)) {
        return LastError();
    }
    if (IsLinkTag(info.FileAttributes, info.ReparseTag)) {
        return kErrorStoppedOnSymlink;
    }
    if ((info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return kErrorDirectory;
    }
    if (const std::uint32_t owned = win32::CheckOwnedByThisUser(folder.Get());
        owned != kErrorSuccess) {
        return owned;
    }
    return ApplyFileSecurity(folder.Get(), Readers::kOwner, true);
}

std::uint32_t CreateRandomFolder(const std::string& prefix, std::string& folder) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix;
        if (const std::uint32_t error = RandomText(6, suffix); error != kErrorSuccess) {
            return error;
        }
        const std::uint32_t made = CreateFolder(prefix + suffix, Readers::kOwner);
        if (made != kErrorAlreadyExists) {
            if (made == kErrorSuccess) {
                folder = prefix + suffix;
            }
            return made;
        }
    }
    return kErrorAlreadyExists;
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
    const std::wstring folder = DeepestExistingFolder(path);
    ULARGE_INTEGER usable{};
    ULARGE_INTEGER total{};
    ULARGE_INTEGER free{};
    if (!GetDiskFreeSpaceExW(folder.empty() ? nullptr : folder.c_str(), &usable, &total, &free)) {
        return LastError();
    }
    bytes = count == FreeCount::kTotal ? free.QuadPart : usable.QuadPart;
    return kErrorSuccess;
}

bool IsReadOnlyVolume(const std::string& path) {
    if (readOnlyVolumes) {
        return true;
    }
    std::wstring folder = DeepestExistingFolder(path);
    if (folder.empty()) {
        folder = FullPathName(L".");
    }
    wchar_t volume[MAX_PATH + 1] = {};
    DWORD flags = 0;
    return GetVolumePathNameW(folder.c_str(), volume, MAX_PATH + 1) &&
           GetVolumeInformationW(volume, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_READ_ONLY_VOLUME) != 0;
}

std::uint32_t DeleteFile(const std::string& path) {
    const std::wstring wide = WidePath(path);
    if (DeleteFileW(wide.c_str())) {
        return kErrorSuccess;
    }
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES) {
        return error;
    }
    // A link to a folder goes as a folder does, the folder itself untouched.
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return IsLinkAt(wide) && RemoveDirectoryW(wide.c_str()) ? kErrorSuccess : error;
    }
    // A read-only file goes as on POSIX, where only the folder's mode counts.
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0 ||
        !SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
        return error;
    }
    if (DeleteFileW(wide.c_str())) {
        return kErrorSuccess;
    }
    const DWORD retryError = GetLastError();
    SetFileAttributesW(wide.c_str(), attributes);
    return retryError;
}

std::uint32_t RemoveFolder(const std::string& path) {
    return RemoveDirectoryW(WidePath(path).c_str()) ? kErrorSuccess : LastError();
}

std::uint32_t ListFolder(const std::string& path, std::vector<FolderEntry>& entries) {
    entries.clear();
    std::string pattern = path;
    if (pattern.empty() || !IsPathSeparator(pattern.back())) {
        pattern += kPathSeparator;
    }
    pattern += '*';
    WIN32_FIND_DATAW data{};
    const HANDLE first = FindFirstFileExW(WidePath(pattern).c_str(), FindExInfoBasic, &data,
                                          FindExSearchNameMatch, nullptr, 0);
    if (first == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // A volume's root has no "." entry: empty, not missing.
        return error == ERROR_FILE_NOT_FOUND && IsFolder(path) ? kErrorSuccess : error;
    }
    const FindHandle find(first);
    do {
        FolderEntry entry{NarrowText(data.cFileName), false};
        if (entry.name == "." || entry.name == "..") {
            continue;
        }
        entry.isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                         !IsLinkTag(data.dwFileAttributes, data.dwReserved0);
        entries.push_back(std::move(entry));
    } while (FindNextFileW(find.get(), &data));
    if (const DWORD error = GetLastError(); error != ERROR_NO_MORE_FILES) {
        entries.clear();
        return error;
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return kErrorSuccess;
}

std::uint32_t MoveReplacing(const std::string& from, const std::string& to) {
    return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)
               ? kErrorSuccess
               : LastError();
}

std::uint32_t ReplaceFileContent(const std::string& path, std::span<const std::uint8_t> data,
                                 Readers readers) {
    std::string suffix;
    if (const std::uint32_t error = RandomText(6, suffix); error != kErrorSuccess) {
        return error;
    }
    const std::wstring staged = WidePath(path + "." + suffix);
    KernelHandle file;
    bool created = false;
    std::uint32_t error =
        OpenForWriting(staged, GENERIC_WRITE, 0, Disposition::kCreateNew, readers, file, created);
    if (error != kErrorSuccess) {
        return error;
    }
    error = win32::InjectedWriteFailure();
    std::size_t written = 0;
    if (error == kErrorSuccess && (!WriteAll(file.Get(), data.data(), data.size(), written) ||
                                   !FlushFileBuffers(file.Get()))) {
        error = LastError();
    }
    file.Reset();
    // Over a link too: the link goes, what it named stays.
    if (error == kErrorSuccess &&
        !MoveFileExW(staged.c_str(), WidePath(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = LastError();
    }
    if (error != kErrorSuccess) {
        DeleteFileW(staged.c_str());
    }
    return error;
}

std::uint32_t RenameNoReplace(const std::string& from, const std::string& to) {
    const std::wstring source = WidePath(from);
    const std::wstring target = WidePath(to);
    if (MoveFileExW(source.c_str(), target.c_str(), 0)) {
        return kErrorSuccess;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_NOT_SAME_DEVICE) {
        return error;
    }
    // Another volume: a file is copied (never over a target), then removed.
    const DWORD attributes = GetFileAttributesW(source.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return kErrorNotSameDevice;
    }
    const std::uint32_t copied = CopyFile(from, to, true);
    if (copied != kErrorSuccess) {
        return copied;
    }
    if (!DeleteFileW(source.c_str())) {
        const DWORD deleteError = GetLastError();
        DeleteFileW(target.c_str());
        return deleteError;
    }
    return kErrorSuccess;
}

std::uint32_t CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
    const std::wstring source = WidePath(from);
    const std::wstring target = WidePath(to);
    // Opened first, so a missing or unreadable source leaves the target alone.
    const KernelHandle input(CreateFileW(source.c_str(), GENERIC_READ, kShareAll, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!input.Valid()) {
        return LastError();
    }
    // The target is ours before CopyFileW writes it: a new private file, or
    // an existing plain one, never a link.
    KernelHandle output;
    bool created = false;
    std::uint32_t error =
        OpenForWriting(target, FILE_READ_ATTRIBUTES, kShareAll,
                       failIfExists ? Disposition::kCreateNew : Disposition::kOpenAlways,
                       Readers::kOwner, output, created);
    if (error != kErrorSuccess) {
        return error;
    }
    output.Reset();
    if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
        error = LastError();
        // Never a half-written copy left behind; a file of someone else's
        // that CopyFileW could not even open stays as it was.
        const bool untouched = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
        if (created || !untouched) {
            DeleteFileW(target.c_str());
        }
        return error;
    }
    error = MakeCopyOurs(target);
    if (error != kErrorSuccess && error != kErrorStoppedOnSymlink) {
        DeleteFileW(target.c_str());
    }
    return error;
}

std::string FileVersion(const std::string& path) {
    const std::wstring wide = WidePath(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
    if (size == 0) {
        return {};
    }
    std::vector<BYTE> info(size);
    if (!GetFileVersionInfoW(wide.c_str(), 0, size, info.data())) {
        return {};
    }
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), L"\\", &value, &length) || value == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        return {};
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (fixed->dwSignature != 0xFEEF04BDu) {
        return {};
    }
    return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
           std::to_string(LOWORD(fixed->dwFileVersionLS));
}

std::uint32_t MarkExecutable(const std::string& path) {
    // No execute bit here: the owner's full access covers running it.
    const std::wstring wide = WidePath(path);
    if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return LastError();
    }
    return IsLinkAt(wide) ? kErrorStoppedOnSymlink : kErrorSuccess;
}

std::uint32_t LastFileError() {
    return GetLastError();
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
    std::replace(native.begin(), native.end(), '/', '\\');
    return native;
}

bool IsFullPath(std::string_view path) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) != 0 &&
                       path[1] == ':' && separator(path[2]);
    const bool share =
        path.size() >= 3 && separator(path[0]) && separator(path[1]) && !separator(path[2]);
    return drive || share;
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace stubframework::platform::fs
