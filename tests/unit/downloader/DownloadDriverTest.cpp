// DownloadWithRetry and its helpers against the release server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "bridge/HtmlExternal.h"
#include "downloader/DownloadDriver.h"
#include "downloader/MonikerDownload.h"
#include "platform/error.h"
#include "platform/fs.h"
#include "support/BridgeFixture.h"
#include "support/ReleaseServer.h"
#include "support/WebServiceMock.h"
#include "telemetry/WebServiceClient.h"

namespace {

using namespace stubframework;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kMiB = 1048576;

class DownloadDriverTest : public ::testing::Test {
protected:
    DownloadDriverTest() { server.AddPackage("p.bin", package); }

    ErrorHandle Download(const std::string& url, bool resume, bool secure = false) {
        return DownloadWithRetry(bridge.Dispatch(), url, local, secure, resume);
    }
    int CountRequests(const std::string& part) {
        int count = 0;
        for (const auto& request : server.Requests()) {
            count += request.path.find(part) != std::string::npos ? 1 : 0;
        }
        return count;
    }
    int CountLogLines(const std::string& text) {
        const std::string log = bridge.LogText();
        int count = 0;
        for (std::size_t at = log.find(text); at != std::string::npos;
             at = log.find(text, at + 1)) {
            ++count;
        }
        return count;
    }
    // Sets the page's stop request once `ready` says so.
    std::thread StopWhen(const std::function<bool()>& ready) {
        return std::thread([this, ready] {
            while (!ready()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            bridge.Dispatch().SetStopDownload(1);
        });
    }

    stubtest::BridgeFixture bridge;
    stubtest::ReleaseServer server;
    stubtest::TestFolder folder;
    std::string local = folder / "p.bin";
    std::string package = stubtest::PackageBytes(3 * kMiB + 100);
};

TEST_F(DownloadDriverTest, BothTransportsDeliverThePackage) {
    stubtest::WebServiceMock tokens;
    core::SetWebServiceHost(tokens.BaseUrl());
    EXPECT_EQ(Download(server.Url("p.bin"), true, true), ErrorHandle::NoError);
    core::InitWebServiceHost();
    EXPECT_EQ(stubtest::ReadFile(local), package);
    // The tokenized URLs were used: the package and its meta file, each asked once.
    EXPECT_EQ(tokens.Requests().size(), 2u);
    EXPECT_EQ(CountRequests("?token=mock"), 2);

    // The plain transport puts a timestamp after "?", or after "&" when there is a query.
    stubtest::WriteFile(local, "stale");
    EXPECT_EQ(Download(server.Url("p.bin"), false), ErrorHandle::NoError);
    EXPECT_EQ(stubtest::ReadFile(local), package);
    EXPECT_EQ(Download(server.Url("p.bin") + "?x=1", false), ErrorHandle::NoError);
    EXPECT_EQ(CountRequests("/p.bin?timestamp="), 1);
    EXPECT_EQ(CountRequests("/p.bin?x=1&timestamp="), 1);
    EXPECT_EQ(bridge.Dispatch().GetProgress(core::kDownloadTotal),
              static_cast<std::int32_t>(package.size()));
    EXPECT_EQ(bridge.Dispatch().GetProgress(core::kDownloadCurrent),
              static_cast<std::int32_t>(package.size()));
}

TEST_F(DownloadDriverTest, AMissingMetaFileFailsTenAttemptsAboutASecondApart) {
    const auto start = Clock::now();
    EXPECT_EQ(Download(server.Url("missing.bin"), true), ErrorHandle::Failure);
    // At least a second between attempts; how much more is the machine's load.
    const auto seconds = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GE(seconds, 9.5);
    EXPECT_EQ(CountRequests("missing.bin.meta"), 10);
    EXPECT_EQ(CountLogLines("TransferDownloadError HRESULT: 800c0008"), 10);
}

TEST_F(DownloadDriverTest, AnUnreachableHostIsNoNetwork) {
    EXPECT_EQ(Download("http://127.0.0.1:1/p.bin", false), ErrorHandle::NoNetwork);
    // Unreachable, or failed where the system does not tell the two apart.
    EXPECT_EQ(CountLogLines("TransferDownloadError HRESULT: 800c0005") +
                  CountLogLines("TransferDownloadError HRESULT: 800c0008"),
              10);
}

TEST_F(DownloadDriverTest, AStopRequestAbortsWithoutRetry) {
    std::thread stopper = StopWhen([this] { return CountRequests("/p.bin") > 1; });
    EXPECT_EQ(Download(server.Url("p.bin", "slow=500000"), true), ErrorHandle::Abort);
    stopper.join();
    EXPECT_EQ(CountRequests("p.bin.meta"), 1);
    EXPECT_EQ(CountLogLines("TransferDownloadError HRESULT: 80004004"), 1);
}

TEST_F(DownloadDriverTest, AStopRequestEndsAStalledTransferInItsFirstAttempt) {
    // The server sends a little, then nothing: no progress comes to look at
    // the stop request, and the attempt must not wait for its stall limit.
    for (const bool resume : {true, false}) {
        SCOPED_TRACE(resume ? "resumable" : "plain");
        bridge.Dispatch().SetStopDownload(0);
        bridge.Dispatch().SetProgress(core::kDownloadCurrent, 0);
        // Once the bytes before the stall have arrived, no progress follows.
        std::thread stopper = StopWhen(
            [this] { return bridge.Dispatch().GetProgress(core::kDownloadCurrent) >= 1000; });
        EXPECT_EQ(Download(server.Url("p.bin", "stall=1000"), resume), ErrorHandle::Abort);
        stopper.join();
    }
    // One attempt each, ended by the stop, never by a failure and a retry.
    EXPECT_EQ(CountLogLines("TransferDownloadError HRESULT: 80004004"), 2);
    EXPECT_EQ(CountLogLines("TransferDownloadError"), 2) << bridge.LogText();
    EXPECT_EQ(CountRequests("p.bin.meta"), 1);
}

TEST_F(DownloadDriverTest, PlainAttemptsThatKeepReceivingDataAreRetriedPastTen) {
    std::thread stopper = StopWhen([this] { return CountRequests("/p.bin") >= 12; });
    EXPECT_EQ(Download(server.Url("p.bin", "dropall=1000"), false), ErrorHandle::Abort);
    stopper.join();
    EXPECT_GE(CountLogLines("TransferDownloadError HRESULT: 1"), 11);
}

TEST_F(DownloadDriverTest, AFullVolumeIsDiskFullAtOnce) {
    // A real 1 MiB volume where the machine lets us mount one; otherwise the
    // platform layer fails every write with ERROR_DISK_FULL.
    const std::string volume = folder / "volume";
    platform::fs::CreateFolder(volume);
    const bool mounted =
        std::system(("mount -t tmpfs -o size=1m tmpfs " + volume + " 2>/dev/null").c_str()) == 0;
    if (!mounted) {
        platform::fs::InjectWriteFailure(platform::kErrorDiskFull);
    }
    RecordProperty("full_volume", mounted ? "tmpfs" : "injected write failure");
    local = volume + "/p.bin";
    EXPECT_EQ(Download(server.Url("p.bin"), true), ErrorHandle::DiskFull);
    platform::fs::DeleteFile(local);
    EXPECT_EQ(Download(server.Url("p.bin"), false), ErrorHandle::DiskFull);
    // No retry: the meta file and one package request each, but on a real
    // small volume the verified download sees the package does not fit and
    // never asks for it.
    EXPECT_EQ(CountRequests("/p.bin"), mounted ? 2 : 3);
    if (mounted) {
        std::system(("umount " + volume).c_str());
    } else {
        platform::fs::InjectWriteFailure(0);
    }
}

TEST_F(DownloadDriverTest, ProgressShowsTheLow32Bits) {
    constexpr std::int64_t kFiveGiB = 5LL << 30;
    const auto callback = downloader::Ptr<DownloadCallback>::Attach(
        downloader::details::Create<DownloadCallback>(bridge.Dispatch()));
    callback->OnProgress(kFiveGiB + 7, kFiveGiB + 9);
    EXPECT_EQ(bridge.Dispatch().GetProgress(core::kDownloadCurrent), (1 << 30) + 7);
    EXPECT_EQ(bridge.Dispatch().GetProgress(core::kDownloadTotal), (1 << 30) + 9);
    core::DownloadCallback plain(bridge.Dispatch());
    plain.OnProgress(0, kFiveGiB + 11, platform::http::BindStatus::kBeginDownloadData);
    plain.OnProgress(kFiveGiB + 13, kFiveGiB + 11, platform::http::BindStatus::kDownloadingData);
    EXPECT_EQ(bridge.Dispatch().GetProgress(core::kDownloadTotal), (1 << 30) + 11);
    EXPECT_EQ(bridge.Dispatch().GetProgress(core::kDownloadCurrent), (1 << 30) + 13);
}

TEST_F(DownloadDriverTest, SizeProbeStopsAtTheAnnouncedSize) {
    bridge.Dispatch().SetSizeProbe(1);
    core::DownloadCallback probe(bridge.Dispatch());
    EXPECT_EQ(core::DownloadByMoniker(server.Url("p.bin"), local, &probe),
              static_cast<HRESULT>(0x80004004));
    bridge.Dispatch().SetSizeProbe(0);
    EXPECT_EQ(bridge.Dispatch().GetProgress(core::kDownloadTotal),
              static_cast<std::int32_t>(package.size()));
    EXPECT_FALSE(probe.DataSeen());
    // A body shorter than announced is 1, and the file is cut where it ended.
    core::DownloadCallback plain(bridge.Dispatch());
    EXPECT_EQ(core::DownloadByMoniker(server.Url("p.bin", "dropall=5000"), local, &plain), 1);
    EXPECT_EQ(stubtest::ReadFile(local), package.substr(0, 5000));
}

TEST_F(DownloadDriverTest, IsFileSameAsRemote) {
    stubtest::WriteFile(local, package);
    EXPECT_TRUE(IsFileSameAsRemote(local, server.Url("p.bin.meta")));
    stubtest::WriteFile(local, package.substr(0, 2 * kMiB));
    EXPECT_FALSE(IsFileSameAsRemote(local, server.Url("p.bin.meta")));
    // No meta file to compare with, or a redirect (not followed): nothing
    // says otherwise. Followed, the redirect would lead to the meta file that
    // says the file differs.
    server.ResetStats();
    EXPECT_TRUE(IsFileSameAsRemote(local, server.Url("x.meta", "redirect=/p.bin.meta")));
    EXPECT_TRUE(IsFileSameAsRemote(local, server.Url("missing.bin.meta")));
    for (const auto& request : server.Requests()) {
        EXPECT_NE(request.path, "/p.bin.meta") << "the redirect was followed";
    }
}

TEST_F(DownloadDriverTest, ATargetThatIsALinkIsRefusedByBothTransports) {
    stubtest::WriteFile(folder / "victim", "keep me");
    std::error_code error;
    std::filesystem::create_symlink(folder / "victim", local, error);
    if (error) {
        GTEST_SKIP() << "this system makes no links: " << error.message();
    }
    for (const bool resume : {true, false}) {
        EXPECT_EQ(Download(server.Url("p.bin"), resume), ErrorHandle::Failure) << resume;
        EXPECT_EQ(stubtest::ReadFile(folder / "victim"), "keep me") << resume;
    }
    EXPECT_EQ(CountLogLines("ERROR] Download target " + local + " is a link: refused"), 2);
    EXPECT_EQ(CountRequests("/p.bin"), 0);
}

}  // namespace
