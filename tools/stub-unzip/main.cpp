// stub-unzip ARCHIVE FOLDER
// Extracts a ZIP archive, or the pages packed into an installer, the way the
// installer does.
#include <cstdio>
#include <string>

#include "platform/error.h"
#include "platform/fs.h"
#include "zip/ExtractZip.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: stub-unzip ARCHIVE FOLDER\n");
        return 2;
    }
    stubframework::platform::fs::FileHandle archive;
    if (archive.Open(argv[1]) != stubframework::platform::kErrorSuccess) {
        std::fprintf(stderr, "stub-unzip: cannot open %s\n", argv[1]);
        return 1;
    }
    if (!stubframework::zip::ExtractZip(archive, argv[2], nullptr)) {
        std::fprintf(stderr, "stub-unzip: extraction failed\n");
        return 1;
    }
    return 0;
}
