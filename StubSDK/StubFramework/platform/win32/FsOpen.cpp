#include "platform/win32/FsOpen.h"
// Names of ours in fs.h, not the A/W macros of windows.h.
#undef CopyFile
#undef DeleteFile

#include <algorithm>
#include <atomic>

#include "platform/error.h"
#include "platform/fs.h"
#include "platform/win32/FileSecurity.h"

namespace stubframework::platform::win32 {
namespace {

std::atomic<std::uint32_t> injectedWriteFailure{0};

// A failed open of `path`: a link there (a folder link cannot be opened as
// a file at all) says so.
std::uint32_t OpenFailure(const std::wstring& path, DWORD error) {
    return IsLinkAt(path) ? kErrorStoppedOnSymlink : error;
}

}  // namespace

bool IsLinkTag(DWORD attributes, DWORD tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (tag == 0 || IsReparseTagNameSurrogate(tag));
}

bool IsLinkAt(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return false;
    }
    const KernelHandle link(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                        OPEN_EXISTING, kFolderNoFollow, nullptr));
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!link.Valid() ||
        !GetFileInformationByHandleEx(link.Get(), FileAttributeTagInfo, &info, sizeof info)) {
        return true;
    }
    return IsLinkTag(FILE_ATTRIBUTE_REPARSE_POINT, info.ReparseTag);
}

std::uint32_t CheckPlainFile(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
        return GetLastError();
    }
    if (IsLinkTag(info.FileAttributes, info.ReparseTag)) {
        return kErrorStoppedOnSymlink;
    }
    return (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kErrorAccessDenied
                                                                 : kErrorSuccess;
}

std::uint32_t OpenForWriting(const std::wstring& path, DWORD access, DWORD share,
                             Disposition disposition, fs::Readers readers, KernelHandle& out,
                             bool& created) {
    FileSecurity security(readers, false);
    if (security.Error() != kErrorSuccess) {
        return security.Error();
    }
    created = false;
    // A name removed between the two opens is made afresh.
    for (int attempt = 0; attempt < 8; ++attempt) {
        KernelHandle file(CreateFileW(path.c_str(), access, share, security.Attributes(),
                                      CREATE_NEW, kNoFollow, nullptr));
        if (!file.Valid()) {
            const DWORD error = GetLastError();
            if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
                return OpenFailure(path, error);
            }
            if (disposition == Disposition::kCreateNew) {
                return kErrorFileExists;
            }
            file = KernelHandle(CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                                            kNoFollow, nullptr));
            if (!file.Valid()) {
                const DWORD openError = GetLastError();
                if (openError == ERROR_FILE_NOT_FOUND) {
                    continue;
                }
                return OpenFailure(path, openError);
            }
        } else {
            created = true;
        }
        if (const std::uint32_t plain = CheckPlainFile(file.Get()); plain != kErrorSuccess) {
            return plain;
        }
        out = std::move(file);
        return kErrorSuccess;
    }
    return kErrorFileNotFound;
}

bool WriteAll(HANDLE file, const std::uint8_t* data, std::size_t size, std::size_t& written) {
    written = 0;
    while (written < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - written, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(file, data + written, chunk, &put, nullptr)) {
            return false;
        }
        if (put == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        written += put;
    }
    return true;
}

std::uint32_t InjectedWriteFailure() {
    return injectedWriteFailure.load();
}

}  // namespace stubframework::platform::win32

namespace stubframework::platform::fs {

void InjectWriteFailure(std::uint32_t error) {
    win32::injectedWriteFailure = error;
}

}  // namespace stubframework::platform::fs
