// stub-pack EXE PAGES_DIR OUT
// Zips a page folder (deflate, names in order, fixed times so that the same
// pages give the same bytes) and appends it to a copy of the executable.
// OUT appears only when it is complete.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/fs.h"
#include "zip/ZipWriter.h"

namespace {

namespace fs = stubframework::platform::fs;
using stubframework::zip::ZipWriter;

constexpr std::uint32_t kFixedTime = (1u << 21) | (1u << 16);  // 1980-01-01 00:00

bool AddFile(ZipWriter& writer, const std::string& path, const std::string& name) {
    fs::FileHandle file;
    if (file.Open(path) != stubframework::platform::kErrorSuccess) {
        return false;
    }
    std::vector<std::uint8_t> bytes(
        static_cast<std::size_t>(std::max<std::int64_t>(file.Size(), 0)));
    return file.Read(bytes.data(), bytes.size()) == static_cast<std::int64_t>(bytes.size()) &&
           writer.AddBytes(name, bytes.data(), bytes.size(), 9, kFixedTime);
}

// Adds the folder's contents under `prefix`, folders before their contents.
bool AddFolder(ZipWriter& writer, const std::string& folder, const std::string& prefix) {
    std::vector<fs::FolderEntry> entries;
    if (fs::ListFolder(folder, entries) != stubframework::platform::kErrorSuccess) {
        std::fprintf(stderr, "stub-pack: cannot list %s\n", folder.c_str());
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::FolderEntry& a, const fs::FolderEntry& b) { return a.name < b.name; });
    for (const fs::FolderEntry& entry : entries) {
        if (entry.name == "." || entry.name == "..") {
            continue;
        }
        const std::string path = folder + "/" + entry.name;
        const std::string name = prefix + entry.name;
        const bool added = entry.isFolder ? writer.AddFolder(name, kFixedTime) &&
                                                AddFolder(writer, path, name + "/")
                                          : AddFile(writer, path, name);
        if (!added) {
            std::fprintf(stderr, "stub-pack: cannot add %s\n", path.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: stub-pack EXE PAGES_DIR OUT\n");
        return 2;
    }
    const std::string executable = argv[1];
    const std::string pages = argv[2];
    const std::string out = argv[3];
    const std::string staged = out + ".partial";
    if (!fs::IsFolder(pages)) {
        std::fprintf(stderr, "stub-pack: %s is not a folder\n", pages.c_str());
        return 1;
    }
    ZipWriter writer;
    const bool packed =
        fs::CopyFile(executable, staged, false) == stubframework::platform::kErrorSuccess &&
        writer.OpenAppended(staged) && AddFolder(writer, pages, "") && writer.Finish();
    if (!packed || fs::MoveReplacing(staged, out) != stubframework::platform::kErrorSuccess) {
        fs::DeleteFile(staged);
        std::fprintf(stderr, "stub-pack: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
