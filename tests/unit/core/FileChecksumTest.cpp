#include "core/FileChecksum.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/fs.h"
#include "support/TestFolder.h"

namespace {

using stubframework::core::FileCrc32;

TEST(FileChecksumTest, ChecksumsWholeFilesNobodyWrites) {
    const stubtest::TestFolder folder;
    const std::string file = folder / "package.bin";
    stubtest::WriteFile(file, "123456789");
    std::uint32_t crc = 0;
    ASSERT_TRUE(FileCrc32(file, crc));
    EXPECT_EQ(crc, 0xCBF43926u);

    // Past one read block: the blocks chain.
    stubtest::WriteFile(file, std::string((1u << 20) + 3, 'x'));
    ASSERT_TRUE(FileCrc32(file, crc));
    EXPECT_EQ(crc, 0x578BF7D3u);

    stubtest::WriteFile(file, "");
    ASSERT_TRUE(FileCrc32(file, crc));
    EXPECT_EQ(crc, 0u);

    EXPECT_FALSE(FileCrc32(folder / "missing", crc));
    EXPECT_FALSE(FileCrc32(folder.Path(), crc));
    // A file a writer of ours holds is not read half written.
    stubframework::platform::fs::FileHandle writer;
    ASSERT_EQ(writer.OpenAlways(file), stubframework::platform::kErrorSuccess);
    EXPECT_FALSE(FileCrc32(file, crc));
}

}  // namespace
