// Extracts every entry of a ZIP archive (also one appended to other data)
// into a folder, reporting entry by entry.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "zip/ZipReporter.h"

namespace stubframework::debug {
class InstallerLog;
}

namespace stubframework::zip {

// Names are cut to this many bytes, as the original tool's buffers did.
inline constexpr std::size_t kMaxEntryName = 259;

// Extracts all entries in directory order into `folder` (created with its
// parents). Stops at the first entry that fails; that entry's file is
// deleted, earlier ones stay. An archive whose entries would land twice on
// one path, put a file where a folder goes, or hold more than the volume's
// free space is refused before anything is written (DiskFull for the
// space). The reporter, when given, hears OnEntry(i, n) before entry i and
// OnEntry(n, n) at the end, and SetError with the system error of a short
// read or write or of the missing space. Refusals are logged when a log is
// given. `created`, when given, receives every file and folder made, in the
// order they were made.
bool ExtractZip(const platform::fs::FileHandle& file, const std::string& folder,
                ZipReporter* reporter, debug::InstallerLog* log = nullptr,
                std::vector<std::string>* created = nullptr);

// Where an entry lands inside `folder`: its name cut to 259 bytes, "\" read
// as "/", "." and ".." resolved. Nothing when the name would leave the
// folder (a ".." too many, an absolute path, a drive letter).
std::optional<std::string> EntryPath(const std::string& folder, const std::string& name);

}  // namespace stubframework::zip
