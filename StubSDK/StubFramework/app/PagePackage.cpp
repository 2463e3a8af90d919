#include "app/PagePackage.h"

#include "core/InstallerLog.h"
#include "core/TempFolder.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "zip/ExtractZip.h"

namespace stubframework::core {

PagePackage::PagePackage(debug::InstallerLog* log) : log_(log) {
    if (!CreateUniqueTempFolder(folder_)) {
        folder_.clear();
        debug::LogErrorMessage(log_, "create temporary folder failed!");
        return;
    }
    if (Load()) {
        loaded_ = true;
        debug::LogDebugMessage(log_, "load resource success, temporary folder path : %s",
                               folder_.c_str());
    }
}

PagePackage::~PagePackage() {
    if (!folder_.empty() && !DeleteFolderTree(folder_)) {
        debug::LogErrorMessage(log_, "Delete Temp folder failed!");
    }
}

bool PagePackage::Load() {
    debug::LogDebugMessage(log_, "Load Resource from pe.");
    // The running image itself: on Linux its file may have been replaced.
    const std::string self = platform::process::RunningImagePath();
    if (self.empty()) {
        debug::LogErrorMessage(log_, "get current app full path failed!");
        return false;
    }
    platform::fs::FileHandle image;
    const bool extracted = image.Open(self) == platform::kErrorSuccess &&
                           zip::ExtractZip(image, folder_, nullptr, log_);
    if (extracted) {
        debug::LogDebugMessage(log_, "Load Resource from pe finished.");
    } else {
        debug::LogErrorMessage(log_, "Load Resource from pe failed.");
    }
    return extracted;
}

}  // namespace stubframework::core
