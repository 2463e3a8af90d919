// Per-run folders directly under the user's temporary folder.
#pragma once

#include <string>

namespace stubframework::core {

// Creates a fresh folder named by a hexadecimal number under the temporary
// folder and returns it with a trailing separator. Two callers, in this
// process or another, never get the same folder.
bool CreateUniqueTempFolder(std::string& folder);

// Deletes the folder with everything in it. Files that cannot be deleted stay
// behind, and then the result is false. Links are removed, never followed.
bool DeleteFolderTree(const std::string& folder);

// The temporary folder in its long form, with a trailing separator; empty
// when it cannot be read or is too long for the system's path limit.
std::string LongTempPath();

}  // namespace stubframework::core
