// ZIP packages: extracted into a fresh temporary folder with progress on
// the install bar, and the setup.exe inside them found.
#pragma once

#include <string>

#include "StubFramework.h"
#include "zip/ZipReporter.h"

namespace stubframework::debug {
class InstallerLog;
}

namespace stubframework::core {

struct UnzipResult {
    ErrorHandle result = ErrorHandle::Failure;
    std::string unzipFolder;  // with a trailing separator; empty when none was made
    std::string setupFolder;  // the folder holding setup.exe, with a trailing separator
};

// Extracts a ".zip" package (any case), reporting its entries to
// `reporter`. Failure for another extension, an unreadable archive or a
// failed entry, DiskFull when the volume filled up, FileNotExist when there
// is no setup.exe.
UnzipResult UnzipPackage(debug::InstallerLog* log, zip::ZipReporter& reporter,
                         const std::string& packagePath);

// The path of the file called `name` in `folder`, in any letter case (the
// exact spelling first, then the first in name order); empty when none.
// Archives made on Windows spell setup.exe as they like.
std::string FileInFolder(const std::string& folder, const std::string& name);

// The folder (with a trailing separator) holding a file of that name, in any
// letter case: `folder` itself first, then its subfolders depth first, in
// name order.
bool FindFileInTree(const std::string& folder, const std::string& name, std::string& found);

}  // namespace stubframework::core
