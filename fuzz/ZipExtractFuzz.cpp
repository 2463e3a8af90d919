// Hostile archives are extracted into a scratch folder: no crash, and no
// file ever appears beside the target folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "core/TempFolder.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "zip/ExtractZip.h"

namespace fs = stubframework::platform::fs;

namespace {

std::set<std::string> Names(const std::string& folder) {
    std::vector<fs::FolderEntry> entries;
    fs::ListFolder(folder, entries);
    std::set<std::string> names;
    for (const fs::FolderEntry& entry : entries) {
        names.insert(entry.name);
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::string jail;
    // What the jail holds of its own (its owner mark) besides our two names.
    static std::set<std::string> allowed;
    if (jail.empty()) {
        if (!stubframework::core::CreateUniqueTempFolder(jail)) {
            std::abort();
        }
        allowed = Names(jail);
        allowed.insert({".", "..", "archive.zip", "target"});
    }
    const std::string archive = jail + "archive.zip";
    const std::string target = jail + "target";
    {
        fs::FileHandle out;
        std::size_t written = 0;
        if (out.CreateAlways(archive) != 0 || out.Write(data, size, written) != 0) {
            std::abort();
        }
    }
    fs::FileHandle in;
    if (in.Open(archive) != 0) {
        std::abort();
    }
    stubframework::zip::ExtractZip(in, target, nullptr);
    for (const std::string& name : Names(jail)) {
        if (allowed.count(name) == 0) {
            std::abort();  // something was written outside the target folder
        }
    }
    stubframework::core::DeleteFolderTree(target);
    return 0;
}
