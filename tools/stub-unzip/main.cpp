// stub-unzip ARCHIVE FOLDER
// Extracts a ZIP archive, or the pages packed into an installer, the way the
// installer does. A refused archive leaves nothing behind: what was written
// before the refusal is removed again.
#include <cstdio>
#include <string>
#include <vector>

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
    stubframework::debug::InstallerLog* const noLog = nullptr;
    std::vector<std::string> created;
    if (!stubframework::zip::ExtractZip(archive, argv[2], nullptr, noLog, &created)) {
        // Deepest first: files, then the folders they were in.
        for (auto made = created.rbegin(); made != created.rend(); ++made) {
            if (stubframework::platform::fs::DeleteFile(*made) !=
                stubframework::platform::kErrorSuccess) {
                stubframework::platform::fs::RemoveFolder(*made);
            }
        }
        std::fprintf(stderr, "stub-unzip: extraction failed; nothing of it is left\n");
        return 1;
    }
    return 0;
}
