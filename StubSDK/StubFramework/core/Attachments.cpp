#include "core/Attachments.h"

#include <algorithm>

#include "platform/fs.h"

namespace stubframework::core {

bool Attachments::Attach(const std::string& path) {
    if (path.empty() || !platform::fs::Exists(path) || platform::fs::IsFolder(path)) {
        return false;
    }
    const std::lock_guard<std::mutex> lock(lock_);
    if (std::find(files_.begin(), files_.end(), path) != files_.end()) {
        return false;
    }
    files_.push_back(path);
    return true;
}

std::vector<std::string> Attachments::Files() const {
    const std::lock_guard<std::mutex> lock(lock_);
    return files_;
}

}  // namespace stubframework::core
