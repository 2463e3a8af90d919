// The DACLs of what the file layer makes: explicit and protected, set at
// creation, so an object never has another one whatever folder it lies in.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32/Win32.h"

namespace stubframework::platform::fs {
enum class Readers;
}

namespace stubframework::platform::win32 {

// Its user, the system and the administrators (POSIX's root) have it all;
// with Readers::kEveryone every user may also read. A folder's entries are
// inherited by what others make in it.
class FileSecurity {
public:
    FileSecurity(fs::Readers readers, bool folder);
    FileSecurity(const FileSecurity&) = delete;
    FileSecurity& operator=(const FileSecurity&) = delete;

    // kErrorSuccess, or why the descriptor could not be made.
    std::uint32_t Error() const { return error_; }
    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }
    PSECURITY_DESCRIPTOR Descriptor() { return &descriptor_; }

private:
    std::uint32_t Build(fs::Readers readers, bool folder);
    PACL Acl() { return reinterpret_cast<PACL>(acl_.data()); }

    std::uint32_t error_ = 0;
    std::vector<DWORD> acl_;  // DWORD-aligned, as an ACL must be
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
};

// Replaces the DACL of an open file or folder (opened with WRITE_DAC) by ours.
std::uint32_t ApplyFileSecurity(HANDLE handle, fs::Readers readers, bool folder);

// kErrorSuccess when an open object (opened with READ_CONTROL) is owned by
// this process's user, or by the owner its token gives new objects (the
// Administrators group when elevated); kErrorAccessDenied when by another.
std::uint32_t CheckOwnedByThisUser(HANDLE handle);

}  // namespace stubframework::platform::win32
