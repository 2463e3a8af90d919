// stub-pack [--tag TEXT] EXE PAGES_DIR OUT
// Zips a page folder (deflate, names in order, fixed times so that the same
// pages give the same bytes) and appends it to a copy of the executable;
// with --tag, a certificate-shaped trailer carrying TEXT follows the archive.
// OUT appears only when it is complete.
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/EmbeddedTag.h"
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
    for (const fs::FolderEntry& entry : entries) {
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

// Appends the tag's trailer at the end of the file.
bool AppendTag(const std::string& path, const std::string& tag) {
    std::int64_t size = -1;
    {
        fs::FileHandle file;
        if (file.Open(path) == stubframework::platform::kErrorSuccess) {
            size = file.Size();
        }
    }
    if (size < 0) {
        return false;
    }
    const std::vector<std::uint8_t> trailer =
        stubframework::core::MakeTagTrailer(tag, static_cast<std::uint64_t>(size));
    if (trailer.empty()) {
        std::fprintf(stderr, "stub-pack: the tag cannot be carried behind this archive\n");
        return false;
    }
    const fs::File file = fs::OpenForAppend(path);
    return file && std::fwrite(trailer.data(), 1, trailer.size(), file.get()) == trailer.size() &&
           std::fflush(file.get()) == 0;
}

int Usage() {
    std::fprintf(stderr, "usage: stub-pack [--tag TEXT] EXE PAGES_DIR OUT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    std::optional<std::string> tag;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument != "--tag") {
            positional.push_back(argument);
        } else if (i + 1 == argc || tag) {
            return Usage();
        } else {
            tag = argv[++i];
        }
    }
    if (positional.size() != 3) {
        return Usage();
    }
    // Refused before anything is written; only the archive's size is unknown yet.
    if (tag && tag->size() > stubframework::core::kMaxTagInTrailer) {
        std::fprintf(stderr, "stub-pack: the tag is too long: %zu bytes, at most %zu\n",
                     tag->size(), stubframework::core::kMaxTagInTrailer);
        return 2;
    }
    if (tag && stubframework::core::MakeTagTrailer(*tag, 0).empty()) {
        std::fprintf(stderr,
                     "stub-pack: the tag holds the bytes PK\\x05\\x06, which would hide "
                     "the archive's end record\n");
        return 2;
    }
    const std::string& executable = positional[0];
    const std::string& pages = positional[1];
    const std::string& out = positional[2];
    const std::string staged = out + ".partial";
    if (!fs::IsFolder(pages)) {
        std::fprintf(stderr, "stub-pack: %s is not a folder\n", pages.c_str());
        return 1;
    }
    ZipWriter writer;
    const bool packed =
        fs::CopyFile(executable, staged, false) == stubframework::platform::kErrorSuccess &&
        writer.OpenAppended(staged) && AddFolder(writer, pages, "") && writer.Finish() &&
        (!tag || AppendTag(staged, *tag));
    if (!packed || fs::MoveReplacing(staged, out) != stubframework::platform::kErrorSuccess) {
        fs::DeleteFile(staged);
        std::fprintf(stderr, "stub-pack: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
