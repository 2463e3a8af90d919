// HttpTask, HttpToMemTask and HttpToFileTask against the release server.
#include <gtest/gtest.h>

#include "downloader/HttpTask.h"
#include "downloader/HttpToFileTask.h"
#include "downloader/HttpToMemTask.h"
#include "platform/fs.h"
#include "platform/http.h"
#include "support/EngineTest.h"

namespace {

using namespace downloader;
using stubtest::EngineTest;
using stubtest::Make;
using stubtest::Ptr;
namespace fs = stubframework::platform::fs;

class HttpTaskTest : public EngineTest {
protected:
    void SetUp() override {
        package = stubtest::PackageBytes(1000);
        server.AddPackage("p.bin", package);
        server.AddPackage("empty.bin", "");
    }

    Ptr<stubtest::RecordingHttp> Fetch(const std::string& url, HttpRange range = {}) {
        auto events = Make<stubtest::RecordingHttp>();
        const auto task =
            Ptr<ITask>::Attach(CreateHttpTask(url, std::move(range), events.Get(), logger.Get()));
        task->Start();
        ExpectOneEnd(*events);
        return events;
    }

    std::string package;
};

TEST_F(HttpTaskTest, DeliversHeaderDataAndOneEnd) {
    const auto events = Fetch(server.Url("p.bin"));
    EXPECT_EQ(events->result, kSuccess);
    ASSERT_EQ(events->headers.size(), 1u);
    EXPECT_EQ(events->headers[0].status, 200);
    EXPECT_EQ(events->headers[0].offset, 0);
    EXPECT_EQ(events->headers[0].size, 1000);
    EXPECT_EQ(events->headers[0].total, 1000);
    EXPECT_FALSE(events->headers[0].etag.empty());
    EXPECT_EQ(events->body, package);
    EXPECT_TRUE(logger->Has("HttpTask::ProcessData> Complete."));
}

// (WinINet reports these only for a server not yet in its pools.)
TEST_F(HttpTaskTest, ConnectionStatusesAreLogged) {
    Fetch(server.Url("p.bin"));
    EXPECT_TRUE(
        logger->Has("HttpTask::InternetStatusCallback> INTERNET_STATUS_RESOLVING_NAME 127.0.0.1"));
}

TEST_F(HttpTaskTest, RangeHeadersFollowTheRange) {
    // A range of 100 + 50 bytes asks for 100-149 and reads the answer's Content-Range.
    const std::string etag = Fetch(server.Url("p.bin"))->headers.at(0).etag;
    auto events = Fetch(server.Url("p.bin"), HttpRange{100, 50, etag});
    ASSERT_EQ(events->headers.size(), 1u);
    EXPECT_EQ(events->headers[0].status, 206);
    EXPECT_EQ(events->headers[0].offset, 100);
    EXPECT_EQ(events->headers[0].size, 50);
    EXPECT_EQ(events->headers[0].total, 1000);
    EXPECT_TRUE(logger->Has("HttpTask::SetRange> Range: bytes=100-149"));
    EXPECT_TRUE(logger->Has("HttpTask::SetIfRange> If-Range: " + etag));
    // Size 0 is the whole resource: no Range, and no If-Range even with an ETag.
    server.ResetStats();
    events = Fetch(server.Url("p.bin"), HttpRange{100, 0, "\"tag\""});
    EXPECT_EQ(events->headers[0].status, 200);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].range, "");
    EXPECT_EQ(requests[0].ifRange, "");
}

TEST_F(HttpTaskTest, BodiesWithoutLengthOrContent) {
    auto events = Fetch(server.Url("empty.bin"));
    EXPECT_EQ(events->result, kSuccess);
    ASSERT_EQ(events->headers.size(), 1u);
    EXPECT_EQ(events->headers[0].total, 0);
    EXPECT_EQ(events->pieces, 0);
    // Neither Content-Range nor Content-Length: offset 0, size 0, total -1.
    events = Fetch(server.Url("p.bin", "long=5"));
    ASSERT_EQ(events->headers.size(), 1u);
    EXPECT_EQ(events->headers[0].size, 0);
    EXPECT_EQ(events->headers[0].total, -1);
    EXPECT_EQ(events->body.size(), 1005u);
}

TEST_F(HttpTaskTest, FailuresEndOnceWithTheirCodes) {
    auto events = Fetch("ftp://127.0.0.1/p.bin");
    EXPECT_EQ(events->result, kUnrecognizedScheme);
    EXPECT_TRUE(events->headers.empty());
    events = Fetch("http://");
    EXPECT_EQ(events->result, MakeHResult(0x80072EE5));
    EXPECT_TRUE(logger->Has("HttpTask::Connect> InternetCrackUrlW failed: 12005."));
    // Nothing listens on port 1.
    events = Fetch("http://127.0.0.1:1/p.bin");
    EXPECT_EQ(events->result, MakeHResult(0x80072EFD));
    EXPECT_TRUE(events->headers.empty());
    EXPECT_TRUE(logger->Has(
        "HttpTask::InternetStatusCallback> INTERNET_STATUS_REQUEST_COMPLETE failed: 12029."));
    // An error status is delivered as it is; judging it is the receiver's task.
    events = Fetch(server.Url("p.bin", "status=404"));
    EXPECT_EQ(events->result, kSuccess);
    EXPECT_EQ(events->headers[0].status, 404);
}

TEST_F(HttpTaskTest, CancelFromAnotherThreadEndsOnce) {
    auto events = Make<stubtest::RecordingHttp>();
    // The server sends 100 bytes and then holds the rest back.
    const auto task = Ptr<ITask>::Attach(
        CreateHttpTask(server.Url("p.bin", "stall=100"), HttpRange{}, events.Get(), logger.Get()));
    task->Cancel();  // before Start: nothing happens, the task stays startable
    task->Start();
    while (events->DataSize() < 100) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::thread([&] { task->Cancel(); }).join();
    ExpectOneEnd(*events);
    EXPECT_EQ(events->result, kHttpCancelled);
    EXPECT_LT(events->body.size(), 1000u);
    EXPECT_FALSE(logger->Has(
        "HttpTask::InternetStatusCallback> INTERNET_STATUS_REQUEST_COMPLETE failed: 12017."));
}

TEST_F(HttpTaskTest, AStalledTransferTimesOut) {
    stubframework::platform::http::SetTimeouts(60000, 1000);
    const auto events = Fetch(server.Url("p.bin", "stall=100"));
    stubframework::platform::http::SetTimeouts(60000, 30000);
    EXPECT_EQ(events->result, MakeHResult(0x80072EE2));
    EXPECT_EQ(events->body, package.substr(0, 100));
}

class HttpToMemTest : public HttpTaskTest {
protected:
    Ptr<stubtest::RecordingMem> FetchMem(const std::string& url) {
        auto end = Make<stubtest::RecordingMem>();
        const auto task = Ptr<ITask>::Attach(CreateHttpToMemTask(url, end.Get(), logger.Get()));
        task->Start();
        ExpectOneEnd(*end);
        return end;
    }
};

TEST_F(HttpToMemTest, FetchesWholeResources) {
    auto end = FetchMem(server.Url("p.bin"));
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(end->body, package);
    end = FetchMem(server.Url("empty.bin"));
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(end->body, "");
}

TEST_F(HttpToMemTest, ResumesAShortAnswerWithIfRange) {
    const auto end = FetchMem(server.Url("p.bin", "drop=600"));
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(end->body, package);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, "bytes=600-1599");
    EXPECT_FALSE(requests[1].ifRange.empty());
    EXPECT_TRUE(logger->Has("HttpToMemTask::OnComplete> Data not complete 600/1000."));
}

TEST_F(HttpToMemTest, AChangedResourceStartsOverFromByteZero) {
    // Every answer has a new ETag, so the resume gets a whole 200 again.
    const auto end = FetchMem(server.Url("p.bin", "drop=600,etagchange"));
    EXPECT_EQ(end->result, kSuccess);
    EXPECT_EQ(end->body, package);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].range, "bytes=600-1599");
    EXPECT_EQ(server.SentBytes("/p.bin"), 600 + 1000);
}

TEST_F(HttpToMemTest, RefusesAnswersThatDoNotFit) {
    auto end = FetchMem(server.Url("p.bin", "status=500"));
    EXPECT_EQ(end->result, kInvalidServerResponse);
    EXPECT_TRUE(logger->Has("HttpToMemTask::OnHttpHeader> Unexpected HTTP status code 500."));
    // No length: the buffer cannot be sized.
    end = FetchMem(server.Url("p.bin", "long=5"));
    EXPECT_EQ(end->result, kInvalidServerResponse);
    EXPECT_TRUE(logger->Has("HttpToMemTask::OnHttpStatusOK> Unexpected content length -1."));
    // A resume answered with the wrong range.
    end = FetchMem(server.Url("p.bin", "drop=600,badrange"));
    EXPECT_EQ(end->result, kInvalidServerResponse);
    EXPECT_TRUE(logger->Has(
        "HttpToMemTask::OnHttpStatusPartialContent> Unexpected content range (OFFSET:601 "
        "SIZE:399 TOTAL:1000)/(POS:600 SIZE:1000)."));
}

class HttpToFileTest : public HttpTaskTest {
protected:
    Ptr<stubtest::RecordingFile> FetchFile(const std::string& url, std::int64_t offset,
                                           std::int64_t size, fs::FileHandle& file) {
        auto end = Make<stubtest::RecordingFile>();
        const auto task = Ptr<ITask>::Attach(
            CreateHttpToFileTask(url, &file, offset, size, end.Get(), logger.Get()));
        task->Start();
        ExpectOneEnd(*end);
        return end;
    }

    stubtest::TestFolder folder;
};

TEST_F(HttpToFileTest, WritesTheRangeAndResumesShortAnswers) {
    fs::FileHandle file;
    ASSERT_EQ(file.OpenAlways(folder / "out"), 0u);
    ASSERT_EQ(file.Seek(100), 0u);
    const auto end = FetchFile(server.Url("p.bin", "drop=300"), 100, 900, file);
    EXPECT_EQ(end->result, kSuccess);
    file.Close();
    EXPECT_EQ(stubtest::ReadFile(folder / "out").substr(100), package.substr(100));
    std::int64_t next = 100;
    for (const auto& [offset, size] : end->written) {
        EXPECT_EQ(offset, next);
        next += size;
    }
    EXPECT_EQ(next, 1000);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].range, "bytes=100-999");
    EXPECT_EQ(requests[1].range, "bytes=400-999");
    EXPECT_EQ(requests[1].ifRange, "");  // no 200 gave an ETag
}

TEST_F(HttpToFileTest, AWholeAnswerToARangeIsWrittenFromTheStartWhereTheFileHoldsIt) {
    fs::FileHandle file;
    ASSERT_EQ(file.OpenAlways(folder / "out"), 0u);
    ASSERT_EQ(file.Seek(500), 0u);
    const auto end = FetchFile(server.Url("p.bin", "range200"), 500, 500, file);
    EXPECT_EQ(end->result, kSuccess);
    file.Close();
    EXPECT_EQ(stubtest::ReadFile(folder / "out"), package);
    ASSERT_FALSE(end->written.empty());
    EXPECT_EQ(end->written.front().first, 0);
}

TEST_F(HttpTaskTest, AHeaderLineTooLongForTheTransferIsAnInvalidAnswer) {
    const auto events = Fetch(server.Url("p.bin", "hugeheader=1048576"));
    EXPECT_EQ(events->result, static_cast<Result>(0x80072F78));
    EXPECT_TRUE(events->headers.empty());
    EXPECT_TRUE(logger->HasPart("HttpTask::ProcessHeader> A header line after the header "));
    EXPECT_TRUE(logger->HasPart(" is longer than 102400 bytes: refused."));
}

TEST_F(HttpToFileTest, RefusesAnswersThatDoNotFit) {
    fs::FileHandle file;
    ASSERT_EQ(file.OpenAlways(folder / "out"), 0u);
    // A whole body for a range that does not begin at byte 0.
    auto end = FetchFile(server.Url("p.bin", "range200"), 500, 500, file);
    EXPECT_EQ(end->result, kInvalidServerResponse);
    EXPECT_TRUE(logger->Has(
        "HttpToFileTask::OnHttpStatusOK> Unexpected content length 1000/(OFFSET:500 SIZE:500)."));
    EXPECT_TRUE(end->written.empty());
    end = FetchFile(server.Url("p.bin", "badrange"), 500, 500, file);
    EXPECT_EQ(end->result, kInvalidServerResponse);
    // More data than the range: the piece that overflows is not written.
    end = FetchFile(server.Url("p.bin", "long=7"), 0, 1000, file);
    EXPECT_EQ(end->result, kInvalidServerResponse);
    EXPECT_TRUE(logger->Has("HttpToFileTask::OnData> Data large than expected 7"));
    EXPECT_LE(file.Size(), 1000);
}

TEST_F(HttpToFileTest, AnswersThatBringNothingAreNotAskedForAgain) {
    // Every answer announces the range and closes before its first byte.
    fs::FileHandle file;
    ASSERT_EQ(file.OpenAlways(folder / "out"), 0u);
    const auto end = FetchFile(server.Url("p.bin", "dropall=0"), 0, 1000, file);
    EXPECT_EQ(end->result, kInvalidServerResponse);
    EXPECT_TRUE(logger->Has("HttpToFileTask::OnComplete> No data in the answer."));
    EXPECT_EQ(server.Requests().size(), 1u);
    // One that brings a little each time goes on until it is whole.
    const auto whole = FetchFile(server.Url("p.bin", "dropall=300"), 0, 1000, file);
    EXPECT_EQ(whole->result, kSuccess);
}

TEST_F(HttpToFileTest, AFailedWriteStillReportsWhatWasWritten) {
    stubtest::WriteFile(folder / "readonly", "");
    fs::FileHandle file;
    ASSERT_EQ(file.Open(folder / "readonly"), 0u);
    const auto end = FetchFile(server.Url("p.bin"), 0, 1000, file);
    EXPECT_EQ(end->result & 0xFFFF0000, static_cast<HRESULT>(0x80070000));
    ASSERT_FALSE(end->written.empty());
    EXPECT_EQ(end->written[0], std::make_pair(std::int64_t{0}, std::int64_t{0}));
}

}  // namespace
