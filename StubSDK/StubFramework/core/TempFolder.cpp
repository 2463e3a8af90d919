#include "core/TempFolder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/InstallerLog.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/unicode.h"

namespace stubframework::core {
namespace {

namespace fs = platform::fs;

// GetTempPath's buffer holds 260 units, the last for the terminator.
constexpr std::size_t kMaxTempPathLength = 259;

// Inside every per-run folder: the mark of the process that made it.
constexpr const char* kOwnerFile = ".stub-owner";

std::string HexName(std::uint32_t counter) {
    char name[16];
    std::snprintf(name, sizeof name, "%x", counter);
    return name;
}

bool IsHexName(const std::string& name) {
    return !name.empty() && name.size() <= 8 &&
           name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

void RecordOwner(const std::string& folder) {
    fs::FileHandle owner;
    std::size_t written = 0;
    const std::string mark = platform::process::ProcessMark(platform::process::CurrentProcessId());
    if (owner.CreateAlways(folder + kOwnerFile) == platform::kErrorSuccess) {
        owner.Write(mark.data(), mark.size(), written);
    }
}

// The owner recorded in a folder, or empty when none is.
std::string RecordedOwner(const std::string& folder) {
    if (fs::IsLink(folder + kOwnerFile)) {
        return {};
    }
    fs::FileHandle owner;
    if (owner.Open(folder + kOwnerFile) != platform::kErrorSuccess) {
        return {};
    }
    char text[64] = {};
    const std::int64_t got = owner.Read(text, sizeof text - 1);
    return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : std::string();
}

// The process named by an owner mark ("pid:start") no longer runs.
bool OwnerEnded(const std::string& mark) {
    const std::uint32_t pid = static_cast<std::uint32_t>(std::strtoul(mark.c_str(), nullptr, 10));
    return pid == 0 || platform::process::ProcessMark(pid) != mark;
}

}  // namespace

std::string LongTempPath() {
    const std::optional<std::string> temp = fs::TempPath();
    if (!temp || temp->empty() || platform::Utf16Length(*temp) >= kMaxTempPathLength) {
        return {};
    }
    std::string path = *temp;
    if (path.back() != fs::kPathSeparator) {
        path += fs::kPathSeparator;
    }
    if (std::optional<std::string> longPath = fs::LongPathName(path)) {
        path = std::move(*longPath);
    }
    return path;
}

bool CreateUniqueTempFolder(std::string& folder) {
    return CreateUniqueFolderIn(LongTempPath(), folder);
}

bool CreateUniqueFolderIn(const std::string& base, std::string& folder) {
    if (base.empty() || !fs::IsFolder(base)) {
        return false;
    }
    // Creating is the test: another process may take a name between our look
    // and our mkdir, and then we simply move on to the next number.
    for (std::uint32_t counter = platform::TickCount();; ++counter) {
        const std::string candidate = base + HexName(counter);
        if (fs::Exists(candidate)) {
            continue;
        }
        const std::uint32_t error = fs::CreateFolder(candidate);
        if (error == platform::kErrorSuccess) {
            folder = candidate + fs::kPathSeparator;
            RecordOwner(folder);
            return true;
        }
        if (error != platform::kErrorAlreadyExists) {
            return false;
        }
    }
}

bool AdoptTempFolder(const std::string& folder) {
    const std::string temp = LongTempPath();
    if (temp.empty() || folder.size() <= temp.size() + 1 || folder.rfind(temp, 0) != 0 ||
        folder.back() != fs::kPathSeparator) {
        return false;
    }
    const std::string name = folder.substr(temp.size(), folder.size() - temp.size() - 1);
    if (!IsHexName(name) || fs::ClaimFolder(temp + name) != platform::kErrorSuccess) {
        return false;
    }
    RecordOwner(folder);
    return true;
}

int RemoveAbandonedTempFolders(debug::InstallerLog* log) {
    const std::string temp = LongTempPath();
    std::vector<fs::FolderEntry> entries;
    if (temp.empty() || fs::ListFolder(temp, entries) != platform::kErrorSuccess) {
        return 0;
    }
    int removed = 0;
    for (const fs::FolderEntry& entry : entries) {
        const std::string folder = temp + entry.name + fs::kPathSeparator;
        // Only folders of ours: ClaimFolder refuses links and other users'.
        if (!entry.isFolder || !IsHexName(entry.name) ||
            fs::ClaimFolder(temp + entry.name) != platform::kErrorSuccess) {
            continue;
        }
        const std::string owner = RecordedOwner(folder);
        if (owner.empty() || !OwnerEnded(owner)) {
            continue;
        }
        DeleteFolderTree(folder);
        ++removed;
        debug::LogDebugMessage(log, "Removed %s, left by process %s that has ended", folder.c_str(),
                               owner.c_str());
    }
    return removed;
}

std::string UtcStamp() {
    const platform::SystemTime now = platform::UtcNow();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%4d%02d%02d%02d%02d%02d", now.year, now.month, now.day,
                  now.hour, now.minute, now.second);
    return stamp;
}

std::string KeptLogFolder(const std::string& productId, debug::InstallerLog* log) {
    const std::string temp = LongTempPath();
    if (temp.empty()) {
        return {};
    }
    const std::string folder = temp + productId + "_log";
    std::uint32_t error = fs::CreateFolder(folder);
    if (error == platform::kErrorAlreadyExists) {
        error = fs::ClaimFolder(folder);
    }
    if (error == platform::kErrorSuccess) {
        return folder + fs::kPathSeparator;
    }
    std::string fresh;
    if (fs::CreateRandomFolder(folder + ".", fresh) != platform::kErrorSuccess) {
        debug::LogErrorMessage(log,
                               "Cannot keep logs: %s is refused (%u) and no folder beside it "
                               "can be made",
                               folder.c_str(), error);
        return {};
    }
    debug::LogErrorMessage(
        log, "%s is %s; logs are kept in %s instead", folder.c_str(),
        error == platform::kErrorStoppedOnSymlink ? "a link" : "not a folder of ours",
        fresh.c_str());
    return fresh + fs::kPathSeparator;
}

bool DeleteFolderTree(const std::string& folder) {
    if (folder.empty()) {
        return false;
    }
    std::string base = folder;
    if (base.back() != fs::kPathSeparator) {
        base += fs::kPathSeparator;
    }
    std::vector<fs::FolderEntry> entries;
    fs::ListFolder(base, entries);
    for (const fs::FolderEntry& entry : entries) {
        if (entry.isFolder) {
            DeleteFolderTree(base + entry.name);
        } else {
            fs::DeleteFile(base + entry.name);
        }
    }
    base.pop_back();
    return fs::RemoveFolder(base) == platform::kErrorSuccess;
}

void KeepLogCopy(const debug::InstallerLog* log, const std::string& folder) {
    if (log == nullptr || log->FilePath().empty() || folder.empty()) {
        return;
    }
    fs::CopyFile(log->FilePath(), folder + fs::FileName(log->FilePath()), false);
}

}  // namespace stubframework::core
