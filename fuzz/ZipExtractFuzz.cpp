// Hostile archives are extracted into a scratch folder: no crash, and no
// file ever appears beside the target folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/TempFolder.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "zip/ExtractZip.h"

namespace fs = stubframework::platform::fs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::string jail;
    if (jail.empty() && !stubframework::core::CreateUniqueTempFolder(jail)) {
        std::abort();
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
    std::vector<fs::FolderEntry> entries;
    fs::ListFolder(jail, entries);
    for (const fs::FolderEntry& entry : entries) {
        if (entry.name != "." && entry.name != ".." && entry.name != "archive.zip" &&
            entry.name != "target") {
            std::abort();  // something was written outside the target folder
        }
    }
    stubframework::core::DeleteFolderTree(target);
    return 0;
}
