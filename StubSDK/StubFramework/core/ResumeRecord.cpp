#include "core/ResumeRecord.h"

#include <map>

#include "core/FrameworkCore.h"
#include "core/InstallerLog.h"
#include "core/RegistryPath.h"
#include "core/RegistryText.h"
#include "platform/error.h"
#include "platform/registry.h"

namespace stubframework::core {
namespace {

namespace reg = platform::registry;

constexpr const char* kResumeManagerKey = "\\ResumeManager";
constexpr const char* kExtractFoldersKey = "\\ResumeRecord\\ExtractFolders";

// Buffer sizes of the Windows reads: longer names end the enumeration,
// longer data counts as unreadable.
constexpr std::size_t kRecordNameChars = 300;
constexpr std::size_t kRegAppNameChars = 50;
constexpr std::size_t kValueBytes = 2000;

bool OpenForRead(std::string_view keyPath, reg::Key& key) {
    const std::optional<RegistryPath> path = ParseRegistryPath(keyPath);
    return path && reg::OpenKey(path->root, path->subKey, reg::View::Wow64_32, reg::Access::Read,
                                key) == platform::kErrorSuccess;
}

// Enumerates values in order until enumeration fails, the way the Windows
// code reads them: names of `nameChars` or more end the walk, data over
// kValueBytes is skipped.
std::vector<std::pair<std::string, std::string>> ReadValues(const reg::Key& key,
                                                            std::size_t nameChars) {
    std::vector<std::pair<std::string, std::string>> values;
    for (std::uint32_t index = 0;; ++index) {
        std::string name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (reg::EnumValue(key, index, name, &type, &data) != platform::kErrorSuccess ||
            name.size() >= nameChars) {
            break;
        }
        if (data.size() > kValueBytes) {
            continue;
        }
        values.emplace_back(std::move(name), RegistryValueText(type, data));
    }
    return values;
}

}  // namespace

ResumeManagerRecord LoadResumeManager(const std::string& registryBase, bool resume) {
    ResumeManagerRecord record;
    const std::string keyPath = registryBase + kResumeManagerKey;
    if (!resume) {
        DeleteRegistryKey(keyPath);
        return record;
    }
    if (!ReadRegistryText(keyPath, "folder", record.folder) ||
        !ReadRegistryText(keyPath, "guid", record.guid)) {
        return record;
    }
    ReadRegistryText(keyPath, "launchOnExit", record.launchOnExit);
    for (int index = 0;; ++index) {
        std::string folder;
        if (!ReadRegistryText(keyPath, "tempfolder" + std::to_string(index), folder)) {
            break;
        }
        record.tempFolders.push_back(std::move(folder));
    }
    record.loaded = true;
    return record;
}

std::vector<std::string> RegistrationApplications(const std::string& registryBase,
                                                  ResumeMode mode) {
    const ResumeManagerRecord record = LoadResumeManager(registryBase, mode != ResumeMode::NONE);
    if (!record.loaded || record.guid.empty()) {
        return {};
    }
    const std::string subKey = "Software\\" + record.launchOnExit;
    std::vector<std::string> commands;
    reg::Key key;
    if (reg::OpenKey(reg::Root::LocalMachine, subKey, reg::View::Wow64_32, reg::Access::Read,
                     key) == platform::kErrorSuccess) {
        for (auto& [name, text] : ReadValues(key, kRegAppNameChars)) {
            if (name.starts_with("regApp")) {
                commands.push_back(std::move(text));
            }
        }
    }
    // The GUID's key goes: its parent is the path before the backslash that
    // precedes the GUID, or "Software" when the GUID is not in the path.
    const std::size_t at = subKey.find(record.guid);
    const std::string parent =
        at == std::string::npos || at == 0 ? "Software" : subKey.substr(0, at - 1);
    reg::DeleteTree(reg::Root::LocalMachine, parent + "\\" + record.guid, reg::View::Wow64_32);
    return commands;
}

void ApplyResumeRecord(FrameworkCore& core, ResumeMode mode, debug::InstallerLog* log) {
    const std::string keyPath = core.RegistryBase() + kExtractFoldersKey;
    if (mode != ResumeMode::NONE) {
        reg::Key key;
        if (OpenForRead(keyPath, key)) {
            std::map<std::string, std::string> record;
            for (auto& [name, text] : ReadValues(key, kRecordNameChars)) {
                record[name] = std::move(text);
            }
            debug::LogDebugMessage(log, "Reset properties for Resume Mode");
            for (const auto& [name, value] : record) {
                debug::LogDebugMessage(log, "%s:%s", name.c_str(), value.c_str());
                core.Properties().Set(name, value);
            }
        }
    }
    DeleteRegistryKey(keyPath);
}

void WriteResumeManager(const std::string& registryBase, const std::string& launchOnExit,
                        const std::string& guid) {
    const std::string keyPath = registryBase + kResumeManagerKey;
    WriteRegistryText(keyPath, "launchOnExit", launchOnExit);
    WriteRegistryText(keyPath, "guid", guid);
}

void WriteResumeRecord(FrameworkCore& core, const std::string& packageName,
                       const std::string& folder, const std::string& exePath) {
    const std::string folderName = packageName + kUnzipFolderSuffix;
    const std::string exeName = packageName + kZipExePathSuffix;
    core.Properties().Set(folderName, folder);
    core.Properties().Set(exeName, exePath);
    const std::string keyPath = core.RegistryBase() + kExtractFoldersKey;
    WriteRegistryText(keyPath, folderName, folder);
    WriteRegistryText(keyPath, exeName, exePath);
}

}  // namespace stubframework::core
