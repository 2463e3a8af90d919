// Where a package's files go: the Directory table resolved under the install
// root (the known folders such as ProgramFilesFolder lie under it, and a
// public property of a folder's name wins), and the cache of packages that
// removal and repair work from.
#pragma once

#include <map>
#include <string>

#include "platform/posix/msi/MsiPackage.h"

namespace stubframework::platform::msi::detail {

class Layout {
public:
    Layout(const Package& package, const std::map<std::string, std::string>& properties)
        : package_(package), properties_(properties) {}

    // The folder of a Directory key, without a trailing separator.
    std::string Folder(const std::string& key, int depth = 0) const;
    std::string FilePath(const PackageFile& file) const;
    // Forgets the folders found: a property of a folder changed.
    void Reset() { folders_.clear(); }

private:
    const Package& package_;
    const std::map<std::string, std::string>& properties_;
    mutable std::map<std::string, std::string> folders_;  // found so far
};

// The known folders (ProgramFilesFolder and the like) by their place under
// the install root.
const std::map<std::string, std::string>& KnownFolders();
// The install root, a known folder or a parent of one: folders a Windows
// machine always has, which no product makes or takes away.
bool IsSystemFolder(const std::string& path);
// A folder given as a property: a Windows path ("C:\\Place") lands on the
// install root's drive folder, a relative one under the install root, never
// under the current folder.
std::string MapFolder(const std::string& value);
// A RemoveFile name with * and ? against a file name, ignoring case.
bool WildcardMatch(const std::string& pattern, const std::string& name);

// ELF programs and scripts: they keep (or get) their executable bit.
bool IsProgram(const std::string& path);

// A single name that stays in its folder (no separator, not "." or "..").
bool IsPlainName(const std::string& name);
// Whether `path` is `folder` or lies inside it, by whole components.
bool IsInside(const std::string& path, const std::string& folder);
// The folder of cached packages beside the machine's registry store; empty
// when it cannot be made.
std::string CacheFolder();

}  // namespace stubframework::platform::msi::detail
