// stub-meta PACKAGE [OUT]: writes the meta file of a package (its size and
// the SHA-1 of each 1 MiB block), by default PACKAGE.meta beside it.
#include <cstdio>
#include <string>

#include "downloader/MetaFile.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr,
                     "usage: stub-meta PACKAGE [OUT]\n"
                     "Writes the meta file of PACKAGE (default OUT: PACKAGE.meta).\n");
        return argc == 2 ? 0 : 2;
    }
    const std::string package = argv[1];
    const std::string out = argc == 3 ? argv[2] : package + ".meta";
    const downloader::Result result = downloader::WriteMetaFile(package, out);
    if (result != downloader::kSuccess) {
        std::fprintf(stderr, "stub-meta: cannot write the meta file of %s (0x%08X)\n",
                     package.c_str(), static_cast<unsigned>(result));
        return 1;
    }
    return 0;
}
