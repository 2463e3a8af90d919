// Shortcuts of a package as desktop entries: one in the user's applications
// folder for the start menu, one on the user's desktop for the desktop,
// written through the installation's Transaction so a rollback takes them.
#pragma once

#include <string>

#include "platform/posix/msi/Transaction.h"

namespace stubframework::platform::msi::detail {

struct DesktopEntry {
    std::string name;
    std::string comment;
    std::string target;     // the program or file it opens
    std::string arguments;  // a Windows command line
    std::string workingDirectory;
};

// Where the shortcuts of the package's folder `folder` go on this desktop:
// the applications folder for the start menu, the desktop for the desktop,
// else the folder itself.
std::string ShortcutPlace(const std::string& folder);

// The text of the entry.
std::string DesktopEntryText(const DesktopEntry& entry);

// Writes `<folder>/<id>.desktop` (the id made safe for a file name); its
// path, or "" when it could not be written.
std::string WriteDesktopEntry(Transaction& changes, const std::string& folder,
                              const std::string& id, const DesktopEntry& entry);

}  // namespace stubframework::platform::msi::detail
