// What survives a restart under the product's registry key: the resume-manager
// record, the registration programs it points at, and the folders of ZIP
// packages extracted before the restart.
#pragma once

#include <string>
#include <vector>

#include "StubFramework.h"

namespace stubframework::debug {
class InstallerLog;
}

namespace stubframework::core {

class FrameworkCore;

inline constexpr const char* kUnzipFolderSuffix = "__ZIP_Unzip_Folder__";
inline constexpr const char* kZipExePathSuffix = "__ZIP_EXE_Path__";

struct ResumeManagerRecord {
    bool loaded = false;
    std::string folder;
    std::string guid;
    std::string launchOnExit;
    std::vector<std::string> tempFolders;
};

// Without a resume mode the record is deleted and comes back not loaded.
ResumeManagerRecord LoadResumeManager(const std::string& registryBase, bool resume);

// Keeps the launch-on-exit command and the run's GUID for a resumed run.
void WriteResumeManager(const std::string& registryBase, const std::string& launchOnExit,
                        const std::string& guid);

// The command lines the registration step runs after a restart; reading
// them removes the product's GUID key.
std::vector<std::string> RegistrationApplications(const std::string& registryBase, ResumeMode mode);

// Pours the extraction folders recorded before a restart back into the
// property store (in a resume mode) and removes the record in every mode.
void ApplyResumeRecord(FrameworkCore& core, ResumeMode mode, debug::InstallerLog* log);

// Records where a ZIP package was extracted, in the store and the registry.
void WriteResumeRecord(FrameworkCore& core, const std::string& packageName,
                       const std::string& folder, const std::string& exePath);

}  // namespace stubframework::core
