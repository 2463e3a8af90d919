// errno values (the system's on Linux, the C runtime's on Windows) as the
// matching Win32 errors.
#include <cerrno>

#include "platform/error.h"

namespace stubframework::platform {

std::uint32_t Win32ErrorFromErrno(int errnoValue) {
    switch (errnoValue) {
        case 0:
            return kErrorSuccess;
        case ENOENT:
            return kErrorFileNotFound;
        case ENOTDIR:
            return kErrorPathNotFound;
        case EMFILE:
        case ENFILE:
            return kErrorTooManyOpenFiles;
        case EACCES:
        case EPERM:
            return kErrorAccessDenied;
        case EBADF:
            return kErrorInvalidHandle;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EROFS:
            return kErrorWriteProtect;
        case ETXTBSY:
            return kErrorSharingViolation;
        case EEXIST:
            return kErrorAlreadyExists;
        case EINVAL:
            return kErrorInvalidParameter;
        case ENOSPC:
#ifdef EDQUOT  // no quotas in the Windows C runtime
        case EDQUOT:
#endif
            return kErrorDiskFull;
        case ENAMETOOLONG:
            return kErrorFilenameExcedRange;
        case ENOTEMPTY:
            return kErrorDirNotEmpty;
        case EBUSY:
            return kErrorBusy;
        case EISDIR:
            return kErrorDirectory;
        case ENOTSUP:
            return kErrorNotSupported;
        case ELOOP:
            return kErrorStoppedOnSymlink;
        case EXDEV:
            return kErrorNotSameDevice;
        default:
            return 31;  // ERROR_GEN_FAILURE
    }
}

}  // namespace stubframework::platform
