// Meta files come from the release server: any bytes must parse or be
// refused, and what parses must describe exactly the bytes given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "downloader/MetaFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    downloader::DownloadMetaSimple meta;
    if (!downloader::CreateDownloadMetaSimple(data, size, meta)) {
        return 0;
    }
    if (meta.fileSize < 0 ||
        static_cast<std::int64_t>(meta.blocks.size()) != downloader::BlockCount(meta.fileSize) ||
        8 + 20 * meta.blocks.size() != size) {
        std::abort();
    }
    return 0;
}
