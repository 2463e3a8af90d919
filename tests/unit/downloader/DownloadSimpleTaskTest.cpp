// The verified, resumable download against the release server.
#include <gtest/gtest.h>

#include <filesystem>

#include "downloader/DownloadSimpleTask.h"
#include "downloader/MetaFile.h"
#include "platform/fs.h"
#include "support/EngineTest.h"

namespace {

using namespace downloader;
using stubtest::EngineTest;
using stubtest::Make;
using stubtest::Ptr;

constexpr std::int64_t kMiB = 1048576;

class DownloadSimpleTaskTest : public EngineTest {
protected:
    void SetUp() override {
        package = stubtest::PackageBytes(10 * kMiB - 12345);
        server.AddPackage("p.bin", package);
    }

    Ptr<ITask> Create(const std::string& faults, Ptr<stubtest::RecordingDownload>& end,
                      const std::string& name = "p.bin") {
        const std::string url = server.Url(name, faults);
        return Ptr<ITask>::Attach(
            CreateDownloadSimpleTask(url, url + ".meta", local, end.Get(), logger.Get()));
    }

    Ptr<stubtest::RecordingDownload> Download(const std::string& faults = "",
                                              const std::string& name = "p.bin") {
        auto end = Make<stubtest::RecordingDownload>();
        const Ptr<ITask> task = Create(faults, end, name);
        task->Start();
        ExpectOneEnd(*end);
        return end;
    }

    // Body bytes sent for the package, not its meta file.
    std::int64_t PackageBytesSent() { return server.SentBytes("/p.bin"); }
    std::vector<stubtest::ReleaseServer::Request> PackageRequests() {
        std::vector<stubtest::ReleaseServer::Request> requests;
        for (const auto& request : server.Requests()) {
            if (request.path.size() < 5 ||
                request.path.substr(request.path.size() - 5) != ".meta") {
                requests.push_back(request);
            }
        }
        return requests;
    }

    std::string package;
    stubtest::TestFolder folder;
    std::string local = folder / "p.bin";
};

TEST_F(DownloadSimpleTaskTest, NoLocalFileDownloadsTheWholePackage) {
    const auto end = Download();
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(stubtest::ReadFile(local), package);
    EXPECT_EQ(PackageBytesSent(), static_cast<std::int64_t>(package.size()));
    const auto progress = end->Progress();
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), std::make_pair(std::int64_t{0}, std::int64_t(package.size())));
    EXPECT_EQ(progress.back().first, static_cast<std::int64_t>(package.size()));
    EXPECT_TRUE(logger->Has("DownloadSimpleTask::OnHashComplete> Hash success."));
}

TEST_F(DownloadSimpleTaskTest, ACompleteFileNeedsNoPackageRequest) {
    stubtest::WriteFile(local, package);
    const auto end = Download();
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_TRUE(PackageRequests().empty());
    EXPECT_EQ(end->Progress().back().first, static_cast<std::int64_t>(package.size()));
}

TEST_F(DownloadSimpleTaskTest, RepairsFromTheFirstBadBlockToTheEnd) {
    std::string damaged = package;
    damaged[3 * kMiB + 17] ^= 0x5A;
    stubtest::WriteFile(local, damaged);
    const auto end = Download();
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(stubtest::ReadFile(local), package);
    const auto requests = PackageRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "bytes=3145728-" + std::to_string(package.size() - 1));
    EXPECT_TRUE(logger->Has("DownloadSimpleTask::OnHash> Hash mismatch found for block 3."));
    EXPECT_TRUE(logger->Has("DownloadSimpleTask::StartHash> Start hash from block 3."));
}

TEST_F(DownloadSimpleTaskTest, SizesTheLocalFileToThePackage) {
    // Longer: cut, and what remains is already right.
    stubtest::WriteFile(local, package + std::string(3 * kMiB, 'x'));
    auto end = Download();
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(stubtest::ReadFile(local), package);
    EXPECT_TRUE(PackageRequests().empty());
    // A package of size 0: an empty file and success at once.
    server.AddPackage("empty.bin", "");
    local = folder / "empty.bin";
    stubtest::WriteFile(local, "old content");
    end = Download("", "empty.bin");
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(stubtest::ReadFile(local), "");
}

TEST_F(DownloadSimpleTaskTest, ResumesADroppedTransferAndRefusesBadAnswers) {
    auto end = Download("drop=2500000");
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(stubtest::ReadFile(local), package);
    // The package was sent once in all: the resume asked only for what was missing.
    EXPECT_EQ(PackageBytesSent(), static_cast<std::int64_t>(package.size()));

    std::string damaged = package;
    damaged[5 * kMiB] ^= 1;
    stubtest::WriteFile(local, damaged);
    end = Download("badrange");
    EXPECT_EQ(end->result, kInvalidServerResponse);
    EXPECT_EQ(stubtest::ReadFile(local).size(), package.size());
    end = Download("status=404");
    EXPECT_EQ(end->result, kInvalidServerResponse);
}

TEST_F(DownloadSimpleTaskTest, AServerThatIgnoresRangesIsFollowedFromByteZero) {
    // Half a package on disk from a cut run; the server answers the resume
    // with the whole file, and once more after the first answer breaks off.
    stubtest::WriteFile(local, package.substr(0, 4 * kMiB + 10));
    auto end = Download("range200");
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(stubtest::ReadFile(local), package);
    EXPECT_TRUE(logger->HasPart("Ranges ignored: the whole resource from byte 0 (1 of 3)."));
    // What it rewrote is checked again, blocks before the resume point too.
    EXPECT_TRUE(logger->HasPart("DownloadSimpleTask::OnDownloadComplete> Rewritten from block 0"));

    stubtest::WriteFile(local, package.substr(0, 3 * kMiB));
    server.ResetStats();
    end = Download("range200,drop=6000000");
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(stubtest::ReadFile(local), package);

    // One that ignores ranges and always breaks off is given up, not chased.
    stubtest::WriteFile(local, package.substr(0, 3 * kMiB));
    end = Download("range200,dropall=6000000");
    EXPECT_EQ(end->result, kInvalidServerResponse);
    EXPECT_TRUE(logger->HasPart("Ranges ignored 3 times and the transfer breaks off: given up."));
}

TEST_F(DownloadSimpleTaskTest, APackageLargerThanTheFreeSpaceFailsBeforeTheFileGrows) {
    stubframework::platform::fs::InjectFreeSpace(kMiB);
    auto end = Download();
    EXPECT_EQ(end->result, static_cast<Result>(0x80070070));
    EXPECT_FALSE(std::filesystem::exists(local)) << "the file made for it is gone";
    EXPECT_TRUE(logger->HasPart("DownloadSimpleTask::PrepareStart> " +
                                std::to_string(package.size()) + " bytes more do not fit"));
    EXPECT_EQ(PackageBytesSent(), 0);
    // A file that was there stays as it was.
    stubtest::WriteFile(local, "partial");
    end = Download();
    EXPECT_EQ(end->result, static_cast<Result>(0x80070070));
    EXPECT_EQ(stubtest::ReadFile(local), "partial");
    stubframework::platform::fs::InjectFreeSpace(std::nullopt);
}

TEST_F(DownloadSimpleTaskTest, APackageUrlRefusedAtOnceEndsTheChainCleanly) {
    // The meta file comes from a good URL; the package's is refused inside
    // its request's Start, and the end runs back through every task at once.
    auto end = Make<stubtest::RecordingDownload>();
    {
        const auto task = Ptr<ITask>::Attach(CreateDownloadSimpleTask(
            "ftp://127.0.0.1/p.bin", server.Url("p.bin.meta"), local, end.Get(), logger.Get()));
        task->Start();
        ASSERT_TRUE(end->WaitEnd());
    }
    EXPECT_EQ(end->result, kUnrecognizedScheme);
    EXPECT_EQ(end->Ends(), 1);
}

TEST_F(DownloadSimpleTaskTest, UnusableMetaFiles) {
    stubtest::WriteFile(server.Root() + "/bad.bin", "data");
    stubtest::WriteFile(server.Root() + "/bad.bin.meta", std::string(27, '\1'));
    const auto end = Download("", "bad.bin");
    EXPECT_EQ(end->result, kFailed);
    EXPECT_TRUE(logger->Has("DownloadSimple::OnMetaComplete> CreateDownloadMetaSimple failed."));
}

TEST_F(DownloadSimpleTaskTest, DataThatNeverMatchesItsMetaFileEndsTheTask) {
    // The server corrupts block 4 on every answer.
    const auto end = Download("corrupt=4");
    EXPECT_EQ(end->result, kFailed);
    const auto requests = PackageRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, "bytes=4194304-" + std::to_string(package.size() - 1));
    EXPECT_TRUE(logger->Has(
        "DownloadSimpleTask::OnHashComplete> Block 4 still differs from the meta file after 2 "
        "downloads."));
    // What was good stays good for the next attempt.
    EXPECT_EQ(stubtest::ReadFile(local).substr(0, 4 * kMiB), package.substr(0, 4 * kMiB));
}

TEST_F(DownloadSimpleTaskTest, CancelDuringTransferOrHashingKeepsTheFileAtFullSize) {
    auto end = Make<stubtest::RecordingDownload>();
    Ptr<ITask> task = Create("slow=2000000", end);
    task->Cancel();  // before Start: the task stays startable
    end->At(kMiB, [&] { std::thread([&] { task->Cancel(); }).detach(); });
    task->Start();
    ExpectOneEnd(*end);
    EXPECT_EQ(end->result, kDownloadCancelled);
    EXPECT_EQ(stubtest::ReadFile(local).size(), package.size());
    EXPECT_TRUE(logger->Has("DownloadSimpleTask::Cancel> Cancel."));

    // A good file, cancelled from inside the first block's progress report.
    stubtest::WriteFile(local, package);
    end = Make<stubtest::RecordingDownload>();
    task = Create("", end);
    end->At(kMiB, [&] { task->Cancel(); });
    task->Start();
    ExpectOneEnd(*end);
    EXPECT_EQ(end->result, kDownloadCancelled);
    EXPECT_LT(end->Progress().back().first, static_cast<std::int64_t>(package.size()));
    EXPECT_EQ(stubtest::ReadFile(local), package);
}

}  // namespace
