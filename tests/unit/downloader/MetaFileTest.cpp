#include "downloader/MetaFile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "downloader/HashTask.h"
#include "platform/crypto.h"
#include "platform/thread.h"
#include "support/TestFolder.h"

namespace {

using namespace downloader;

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

std::vector<std::uint8_t> MetaHeader(std::int64_t size, std::size_t blocks) {
    std::vector<std::uint8_t> meta(8 + 20 * blocks, 0);
    for (int i = 0; i < 8; ++i) {
        meta[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(size) >> (8 * i));
    }
    return meta;
}

TEST(MetaFileTest, BlockCountAndLengthMustAgree) {
    DownloadMetaSimple meta;
    auto empty = MetaHeader(0, 0);
    ASSERT_TRUE(CreateDownloadMetaSimple(empty.data(), empty.size(), meta));
    EXPECT_EQ(meta.fileSize, 0);
    EXPECT_TRUE(meta.blocks.empty());

    auto two = MetaHeader(1048577, 2);
    EXPECT_TRUE(CreateDownloadMetaSimple(two.data(), two.size(), meta));
    EXPECT_EQ(meta.blocks.size(), 2u);
    auto shortOne = MetaHeader(1048577, 1);
    EXPECT_FALSE(CreateDownloadMetaSimple(shortOne.data(), shortOne.size(), meta));
    EXPECT_FALSE(CreateDownloadMetaSimple(two.data(), 7, meta));
    auto negative = MetaHeader(-5, 0);
    EXPECT_FALSE(CreateDownloadMetaSimple(negative.data(), negative.size(), meta));
    auto huge = MetaHeader(kMaxBlocks * kBlockSize, 0);
    EXPECT_FALSE(CreateDownloadMetaSimple(huge.data(), huge.size(), meta));
    // Found by fuzzing: the block count of a size near the largest overflowed.
    auto largest = MetaHeader(INT64_MAX - 65437, 0);
    EXPECT_FALSE(CreateDownloadMetaSimple(largest.data(), largest.size(), meta));
}

class MetaFileOnDiskTest : public ::testing::Test {
protected:
    std::vector<std::uint8_t> MetaOf(const std::string& package) {
        const std::string metaPath = package + ".meta";
        EXPECT_EQ(WriteMetaFile(package, metaPath), kSuccess);
        const std::string bytes = stubtest::ReadFile(metaPath);
        return {bytes.begin(), bytes.end()};
    }

    stubtest::TestFolder folder_;
};

TEST_F(MetaFileOnDiskTest, WrittenMetaListsTheSha1OfEachBlock) {
    const std::string data = RandomBytes(2 * kBlockSize + 123, 1);
    const std::string package = folder_ / "package.bin";
    stubtest::WriteFile(package, data);
    const auto meta = MetaOf(package);
    ASSERT_EQ(meta.size(), 8u + 3 * 20u);
    DownloadMetaSimple parsed;
    ASSERT_TRUE(CreateDownloadMetaSimple(meta.data(), meta.size(), parsed));
    EXPECT_EQ(parsed.fileSize, static_cast<std::int64_t>(data.size()));
    stubframework::platform::crypto::Sha1Digest last{};
    ASSERT_TRUE(stubframework::platform::crypto::Sha1(data.data() + 2 * kBlockSize, 123, last));
    EXPECT_EQ(parsed.blocks[2], last);
    EXPECT_TRUE(VerifyFileWithMeta(package, meta.data(), meta.size()));
}

TEST_F(MetaFileOnDiskTest, VerificationRefusesAnyDifferentFile) {
    const std::string data = RandomBytes(3 * kBlockSize, 2);
    const std::string package = folder_ / "package.bin";
    stubtest::WriteFile(package, data);
    const auto meta = MetaOf(package);

    std::string lastByte = data;
    lastByte.back() ^= 1;
    stubtest::WriteFile(folder_ / "changed", lastByte);
    EXPECT_FALSE(VerifyFileWithMeta(folder_ / "changed", meta.data(), meta.size()));

    stubtest::WriteFile(folder_ / "longer", data + RandomBytes(kBlockSize, 3));
    EXPECT_FALSE(VerifyFileWithMeta(folder_ / "longer", meta.data(), meta.size()));

    // Whole blocks missing at the end: every block it has matches, yet it
    // is not the package.
    stubtest::WriteFile(folder_ / "shorter", data.substr(0, 2 * kBlockSize));
    EXPECT_FALSE(VerifyFileWithMeta(folder_ / "shorter", meta.data(), meta.size()));

    EXPECT_FALSE(VerifyFileWithMeta(folder_ / "missing", meta.data(), meta.size()));
    EXPECT_FALSE(VerifyFileWithMeta(package, meta.data(), meta.size() - 1));
}

// Records what a hash task reports.
class RecordingHashCallback : public IHashCallback {
public:
    void OnHash(const BlockHash& /*digest*/) override {
        if (++hashes == cancelAt && task != nullptr) {
            task->Cancel();
        }
    }
    void OnComplete(HashResult value) override {
        result = value;
        ++completions;
        done.Set();
    }

    std::atomic<int> hashes{0};
    std::atomic<int> completions{0};
    int cancelAt = -1;
    ITask* task = nullptr;
    HashResult result = HashFailed;
    stubframework::platform::Event done{true};

protected:
    ~RecordingHashCallback() = default;
};

TEST_F(MetaFileOnDiskTest, HashTaskReportsBlocksOnceAndStopsOnCancel) {
    const std::int64_t before = details::LiveObjects();
    stubtest::WriteFile(folder_ / "empty", "");
    stubtest::WriteFile(folder_ / "five", RandomBytes(5 * kBlockSize, 4));
    for (const auto& [name, cancelAt, hashes, result] :
         {std::tuple{"empty", -1, 0, HashDone}, std::tuple{"five", -1, 5, HashDone},
          std::tuple{"five", 2, 2, HashStopped}}) {
        stubframework::platform::fs::FileHandle file;
        ASSERT_EQ(file.Open(folder_ / name), 0u);
        auto* callback = details::Create<RecordingHashCallback>();
        callback->cancelAt = cancelAt;
        ITask* task = CreateHashTask(&file, callback);
        callback->task = task;
        task->Start();
        task->Start();  // nothing more
        callback->done.Wait();
        EXPECT_EQ(callback->hashes.load(), hashes) << name;
        EXPECT_EQ(callback->result, result) << name;
        EXPECT_EQ(callback->completions.load(), 1);
        task->Release();
        callback->Release();
        // The worker lets go of its own references right after reporting.
        while (details::LiveObjects() != before) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_EQ(details::LiveObjects(), before) << name;
    }
}

TEST_F(MetaFileOnDiskTest, TheToolWritesTheSameMetaFile) {
    const std::string package = folder_ / "tool.bin";
    stubtest::WriteFile(package, RandomBytes(kBlockSize + 1, 5));
    const auto expected = MetaOf(package);
    ASSERT_EQ(std::system(("'" + std::string(STUB_BIN_DIR) + "/stub-meta' '" + package + "' '" +
                           (folder_ / "tool.meta") + "'")
                              .c_str()),
              0);
    const std::string written = stubtest::ReadFile(folder_ / "tool.meta");
    EXPECT_EQ(std::vector<std::uint8_t>(written.begin(), written.end()), expected);
    EXPECT_NE(std::system(("'" + std::string(STUB_BIN_DIR) + "/stub-meta' '" +
                           (folder_ / "missing") + "' 2>/dev/null")
                              .c_str()),
              0);
}

}  // namespace
