#include "core/TempFolder.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/unicode.h"

namespace stubframework::core {
namespace {

namespace fs = platform::fs;

// GetTempPath's buffer holds 260 units, the last for the terminator.
constexpr std::size_t kMaxTempPathLength = 259;

std::string HexName(std::uint32_t counter) {
    char name[16];
    std::snprintf(name, sizeof name, "%x", counter);
    return name;
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
    const std::string temp = LongTempPath();
    if (temp.empty() || !fs::IsFolder(temp)) {
        return false;
    }
    // Creating is the test: another process may take a name between our look
    // and our mkdir, and then we simply move on to the next number.
    for (std::uint32_t counter = platform::TickCount();; ++counter) {
        const std::string candidate = temp + HexName(counter);
        if (fs::Exists(candidate)) {
            continue;
        }
        const std::uint32_t error = fs::CreateFolder(candidate);
        if (error == platform::kErrorSuccess) {
            folder = candidate + fs::kPathSeparator;
            return true;
        }
        if (error != platform::kErrorAlreadyExists) {
            return false;
        }
    }
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
        if (entry.name == "." || entry.name == "..") {
            continue;
        }
        if (entry.isFolder) {
            DeleteFolderTree(base + entry.name);
        } else {
            fs::DeleteFile(base + entry.name);
        }
    }
    base.pop_back();
    return fs::RemoveFolder(base) == platform::kErrorSuccess;
}

}  // namespace stubframework::core
