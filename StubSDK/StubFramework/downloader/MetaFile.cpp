#include "downloader/MetaFile.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "downloader/HashTask.h"
#include "platform/crypto.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "platform/thread.h"

namespace downloader {
namespace {

namespace fs = stubframework::platform::fs;

std::int64_t ReadLittleEndian64(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | bytes[i];
    }
    return static_cast<std::int64_t>(value);
}

void WriteLittleEndian64(std::int64_t value, std::uint8_t* bytes) {
    auto bits = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(bits & 0xFF);
        bits >>= 8;
    }
}

// Compares each block's digest with the meta file's list and stops the
// hashing at the first difference.
class HashCallback : public IHashCallback {
public:
    HashCallback(const DownloadMetaSimple& meta, stubframework::platform::Event& done)
        : meta_(meta), done_(done) {}

    void SetTask(ITask* task) { task_ = task; }

    void OnHash(const BlockHash& digest) override {
        if (index_ < meta_.blocks.size() && meta_.blocks[index_] == digest) {
            ++index_;
            return;
        }
        mismatch_ = true;
        task_->Cancel();
    }

    void OnComplete(HashResult result) override {
        result_ = result;
        done_.Set();
    }

    HashResult TaskResult() const { return result_; }
    // Every listed block was seen and matched.
    bool Complete() const { return !mismatch_ && index_ == meta_.blocks.size(); }

protected:
    ~HashCallback() = default;

private:
    const DownloadMetaSimple& meta_;
    stubframework::platform::Event& done_;
    ITask* task_ = nullptr;
    std::size_t index_ = 0;
    bool mismatch_ = false;
    HashResult result_ = HashStopped;
};

}  // namespace

bool CreateDownloadMetaSimple(const std::uint8_t* bytes, std::size_t length,
                              DownloadMetaSimple& meta) {
    if (bytes == nullptr || length < 8) {
        return false;
    }
    const std::int64_t size = ReadLittleEndian64(bytes);
    // A negative size would give a negative block count.
    if (size < 0) {
        return false;
    }
    const std::int64_t blocks = BlockCount(size);
    if (blocks >= kMaxBlocks) {
        return false;
    }
    if (length != 8 + 20 * static_cast<std::uint64_t>(blocks)) {
        return false;
    }
    meta.fileSize = size;
    meta.blocks.resize(static_cast<std::size_t>(blocks));
    for (std::int64_t i = 0; i < blocks; ++i) {
        std::memcpy(meta.blocks[static_cast<std::size_t>(i)].data(), bytes + 8 + 20 * i, 20);
    }
    return true;
}

Result WriteMetaFile(const std::string& packagePath, const std::string& metaPath) {
    fs::FileHandle package;
    if (const std::uint32_t error = package.Open(packagePath); error != 0) {
        return ResultFromError(static_cast<std::int32_t>(error));
    }
    const std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[kBlockSize]);
    if (!block) {
        return kOutOfMemory;
    }
    std::vector<std::uint8_t> meta(8);
    std::int64_t size = 0;
    for (;;) {
        const std::int64_t got = package.Read(block.get(), kBlockSize);
        if (got < 0) {
            return kFailed;
        }
        if (got == 0) {
            break;
        }
        stubframework::platform::crypto::Sha1Digest digest{};
        if (!stubframework::platform::crypto::Sha1(block.get(), static_cast<std::size_t>(got),
                                                   digest)) {
            return kFailed;
        }
        meta.insert(meta.end(), digest.begin(), digest.end());
        size += got;
    }
    WriteLittleEndian64(size, meta.data());
    // Written beside the target and renamed over it: never half a meta file.
    const std::string staged = metaPath + ".partial";
    std::FILE* out = std::fopen(staged.c_str(), "wbe");
    if (out == nullptr) {
        return kFailed;
    }
    const bool written = std::fwrite(meta.data(), 1, meta.size(), out) == meta.size();
    const bool closed = std::fclose(out) == 0;
    if (!written || !closed ||
        fs::MoveReplacing(staged, metaPath) != stubframework::platform::kErrorSuccess) {
        fs::DeleteFile(staged);
        return kFailed;
    }
    return kSuccess;
}

bool VerifyFileWithMeta(const std::string& path, const std::uint8_t* bytes, std::size_t length) {
    DownloadMetaSimple meta;
    if (!CreateDownloadMetaSimple(bytes, length, meta)) {
        return false;
    }
    fs::FileHandle file;
    if (file.Open(path) != stubframework::platform::kErrorSuccess) {
        return false;
    }
    stubframework::platform::Event done(true);
    const auto callback = Ptr<HashCallback>::Attach(details::Create<HashCallback>(meta, done));
    if (!callback) {
        return false;
    }
    const auto task = Ptr<ITask>::Attach(CreateHashTask(&file, callback.Get()));
    if (!task) {
        return false;
    }
    callback->SetTask(task.Get());
    task->Start();
    done.Wait();
    // A file that lacks whole trailing blocks matches every block it has;
    // it is still not the package.
    return callback->TaskResult() == HashDone && callback->Complete();
}

}  // namespace downloader
