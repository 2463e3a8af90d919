// Per-run folders directly under the user's temporary folder.
#pragma once

#include <string>

namespace stubframework::debug {
class InstallerLog;
}

namespace stubframework::core {

// Creates a fresh private folder named by a hexadecimal number under the
// temporary folder and returns it with a trailing separator. Two callers, in
// this process or another, never get the same folder. The folder records its
// owner, so a later run can remove it when this process ended without doing so.
bool CreateUniqueTempFolder(std::string& folder);
// The same under `base` (which ends with a separator).
bool CreateUniqueFolderIn(const std::string& base, std::string& folder);

// Takes over `folder`, a per-run folder directly under the temporary folder
// (with a trailing separator), as this process's: a later run removes it
// once this process has ended. False, with nothing written, for any other.
bool AdoptTempFolder(const std::string& folder);

// Deletes the folder with everything in it. Files that cannot be deleted stay
// behind, and then the result is false. Links are removed, never followed.
bool DeleteFolderTree(const std::string& folder);

// Removes the per-run folders of this user's whose owner has ended without
// removing them (killed, or the machine went down); logs each. The number removed.
int RemoveAbandonedTempFolders(debug::InstallerLog* log);

// The temporary folder in its long form, with a trailing separator; empty
// when it cannot be read or is too long for the system's path limit.
std::string LongTempPath();

// The folder the run's log copy and the installers' logs are kept in,
// "<temp><product>_log" with a trailing separator, taken as ours and made
// private. When that name is held by a link or by another user, a fresh
// private folder beside it is used instead, and the log says why. Empty when
// no folder can be had.
std::string KeptLogFolder(const std::string& productId, debug::InstallerLog* log);
// The current UTC time as the installers' log names carry it: "YYYYMMDDhhmmss".
std::string UtcStamp();

// Copies the log's file into `folder` (a KeptLogFolder): the copy that lasts.
void KeepLogCopy(const debug::InstallerLog* log, const std::string& folder);

}  // namespace stubframework::core
