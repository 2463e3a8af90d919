// Files handed over for later error reports (the install and uninstall
// logs): each path once, only while the file exists, from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace stubframework::core {

class Attachments {
public:
    // False when there is no such file or the path is already attached.
    bool Attach(const std::string& path);
    std::vector<std::string> Files() const;

private:
    mutable std::mutex lock_;
    std::vector<std::string> files_;
};

}  // namespace stubframework::core
