#include "platform/win32/FileSecurity.h"
// After windows.h:
#include <aclapi.h>
// Names of ours in fs.h, not the A/W macros of windows.h.
#undef CopyFile
#undef DeleteFile

#include <memory>

#include "platform/error.h"
#include "platform/fs.h"

namespace stubframework::platform::win32 {
namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

// This process's user, and the owner its token gives new objects.
struct TokenSids {
    std::vector<BYTE> user;
    std::vector<BYTE> owner;
};

std::vector<BYTE> CopySid(PSID sid) {
    if (sid == nullptr || !IsValidSid(sid)) {
        return {};
    }
    const auto* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

std::vector<BYTE> TokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> info(size);
    if (size == 0 || !GetTokenInformation(token, kind, info.data(), size, &size)) {
        return {};
    }
    return info;
}

TokenSids ReadTokenSids() {
    HANDLE raw = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return {};
    }
    const std::unique_ptr<void, HandleCloser> token(raw);
    TokenSids sids;
    if (std::vector<BYTE> info = TokenInformation(raw, TokenUser); !info.empty()) {
        sids.user = CopySid(reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid);
    }
    if (std::vector<BYTE> info = TokenInformation(raw, TokenOwner); !info.empty()) {
        sids.owner = CopySid(reinterpret_cast<TOKEN_OWNER*>(info.data())->Owner);
    }
    return sids;
}

// The token does not change while the process runs.
const TokenSids& ProcessSids() {
    static const TokenSids sids = ReadTokenSids();
    return sids;
}

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = SECURITY_MAX_SID_SIZE;
    if (!CreateWellKnownSid(type, nullptr, sid.data(), &size)) {
        return {};
    }
    sid.resize(size);
    return sid;
}

}  // namespace

// Built once every member is: Build fills them in.
FileSecurity::FileSecurity(fs::Readers readers, bool folder) {
    error_ = Build(readers, folder);
}

std::uint32_t FileSecurity::Build(fs::Readers readers, bool folder) {
    struct Entry {
        std::vector<BYTE> sid;
        DWORD access;
    };
    std::vector<Entry> entries{{ProcessSids().user, FILE_ALL_ACCESS},
                               {WellKnownSid(WinLocalSystemSid), FILE_ALL_ACCESS},
                               {WellKnownSid(WinBuiltinAdministratorsSid), FILE_ALL_ACCESS}};
    if (readers == fs::Readers::kEveryone) {
        const DWORD read = folder ? FILE_GENERIC_READ | FILE_GENERIC_EXECUTE : FILE_GENERIC_READ;
        entries.push_back({WellKnownSid(WinWorldSid), read});
    }
    DWORD size = sizeof(ACL);
    for (const Entry& entry : entries) {
        if (entry.sid.empty()) {
            return kErrorAccessDenied;  // no user to give the object to
        }
        size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(entry.sid.size());
    }
    acl_.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    if (!InitializeAcl(Acl(), size, ACL_REVISION)) {
        return GetLastError();
    }
    const DWORD inherit = folder ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;
    for (Entry& entry : entries) {
        if (!AddAccessAllowedAceEx(Acl(), ACL_REVISION, inherit, entry.access, entry.sid.data())) {
            return GetLastError();
        }
    }
    if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor_, TRUE, Acl(), FALSE) ||
        !SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        return GetLastError();
    }
    attributes_ = SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), &descriptor_, FALSE};
    return kErrorSuccess;
}

// SetKernelObjectSecurity sets just this DACL, protected, and walks no
// children (SetSecurityInfo would visit every file below a claimed folder;
// Wine's does not apply it at all).
std::uint32_t ApplyFileSecurity(HANDLE handle, fs::Readers readers, bool folder) {
    FileSecurity security(readers, folder);
    if (security.Error() != kErrorSuccess) {
        return security.Error();
    }
    return SetKernelObjectSecurity(handle, DACL_SECURITY_INFORMATION, security.Descriptor())
               ? kErrorSuccess
               : GetLastError();
}

std::uint32_t CheckOwnedByThisUser(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                       nullptr, nullptr, nullptr, &descriptor);
    if (read != ERROR_SUCCESS) {
        return read;
    }
    const std::unique_ptr<void, LocalFreer> freeDescriptor(descriptor);
    const auto ownedBy = [owner](const std::vector<BYTE>& sid) {
        return owner != nullptr && !sid.empty() && EqualSid(owner, const_cast<BYTE*>(sid.data()));
    };
    const TokenSids& sids = ProcessSids();
    return ownedBy(sids.user) || ownedBy(sids.owner) ? kErrorSuccess : kErrorAccessDenied;
}

}  // namespace stubframework::platform::win32
