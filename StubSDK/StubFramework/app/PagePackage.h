// The wizard's pages, carried as a ZIP archive appended to the executable:
// extracted into a fresh temporary folder when the framework is built, and
// removed with it at the teardown.
#pragma once

#include <string>

namespace stubframework::debug {
class InstallerLog;
}

namespace stubframework::core {

class PagePackage {
public:
    // Makes the folder and extracts the pages into it.
    explicit PagePackage(debug::InstallerLog* log);
    // Deletes the folder with everything in it.
    ~PagePackage();
    PagePackage(const PagePackage&) = delete;
    PagePackage& operator=(const PagePackage&) = delete;

    bool Loaded() const { return loaded_; }
    // With a trailing separator; empty when no folder was made.
    const std::string& Folder() const { return folder_; }

private:
    bool Load();

    bool loaded_ = false;
    std::string folder_;
    debug::InstallerLog* log_;
};

}  // namespace stubframework::core
