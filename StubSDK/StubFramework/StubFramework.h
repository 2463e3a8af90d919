// The integer code sets shared by the native side and the pages. The pages'
// configuration declares the same numbers; never renumber them. The sets are
// scoped: their short names (NONE, ERROR, Running) stay out of the
// namespace, and no file that includes this one ever sees an OS header.
#pragma once

#include <cstdint>

namespace stubframework {

// The exit code of a run that downloaded a new copy of the executable: the
// launcher then hands over to it.
inline constexpr std::int32_t kSelfUpdateExitCode = 197800;

// Result of every download, install, update and verification operation.
enum class ErrorHandle : std::int32_t {
    NoError = 0,
    UnknowError = 1,
    FileNotExist = 2,
    DiskFull = 3,
    Failure = 4,
    Abort = 5,
    Md5Error = 6,
    VolumeReadOnly = 7,
    NoNetwork = 8,
    Cancelled = 9,
    Running = 10,  // a progress report, never a final result
    Reboot = 11,
    HaveInstalled = 12,
    OtherInstalling = 13,
    NewerInstalled = 14,
};

// The mode the executable was started in after a restart.
enum class ResumeMode : std::int32_t {
    NONE = 0,
    DOWNLOADING = 1,
    INSTALLING = 2,
};

// Installation status recorded by the pages and sent in the final report.
// CANCEL_WELCOME and CANCEL_PREREQ share 9 and nothing is 8: a 9 reads as a
// cancel on the welcome page.
enum class Config_Status : std::int32_t {
    NOTSTART = 0,
    COMPLETED = 1,
    ERROR = 2,
    CANCEL = 3,
    ENVIRONMENT_NOT_MEET = 4,
    DOWNLOADED = 5,
    STUB_FAILED = 6,
    REPAIR = 7,
    CANCEL_WELCOME = 9,
    CANCEL_PREREQ = 9,
    CANCEL_AGREEMENT = 10,
    CANCEL_ANALYTICS = 11,
    CANCEL_DOWNLOAD = 12,
    CANCEL_DOWNLOADING = 13,
    CANCEL_INSTALLING = 14,
    CANCEL_BKRUNNING = 15,
    CANCEL_EMBARGO = 16,
    ERROR_DOTNET = 17,
    ERROR_WEBVIEW2 = 18,
    ERROR_VSREDIST = 19,
    ERROR_PRODUCT = 20,
    ERROR_DOWNLOAD = 21,
    ERROR_NEWERINSTALLED = 22,
    ERROR_ALREADYINSTALLING = 23,
};

// The number a code crosses the boundary to the pages as.
template <class Code>
constexpr std::int32_t AsNumber(Code code) {
    return static_cast<std::int32_t>(code);
}

}  // namespace stubframework
