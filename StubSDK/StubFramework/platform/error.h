// System error codes as the core sees them: Win32 numbers on every platform.
#pragma once

#include <cstdint>

namespace stubframework::platform {

using HResult = std::int32_t;

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorWriteProtect = 19;
inline constexpr std::uint32_t kErrorNotSameDevice = 17;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInvalidName = 123;
inline constexpr std::uint32_t kErrorDirNotEmpty = 145;
inline constexpr std::uint32_t kErrorBusy = 170;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorFilenameExcedRange = 206;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorDirectory = 267;
inline constexpr std::uint32_t kErrorBadKey = 1010;
inline constexpr std::uint32_t kErrorCantRead = 1012;
inline constexpr std::uint32_t kErrorCantWrite = 1013;
inline constexpr std::uint32_t kErrorKeyDeleted = 1018;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorStoppedOnSymlink = 681;

// The HRESULT that carries a system error: the low 16 bits in FACILITY_WIN32.
constexpr HResult HResultFromWin32(std::uint32_t error) {
    return static_cast<HResult>((error & 0xFFFFu) | 0x80070000u);
}

// Maps an errno value to the matching Win32 error (unknown values become
// ERROR_GEN_FAILURE, 31): the system's on Linux, the C runtime's on Windows.
std::uint32_t Win32ErrorFromErrno(int errnoValue);

}  // namespace stubframework::platform
