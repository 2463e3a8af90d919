#include "bridge/Workers.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/windowthread.h"
#include "support/BridgeFixture.h"

namespace {

using namespace stubframework;
using stubtest::RecordingCallback;

// What the scripted engine of the test worker does.
struct Script {
    std::int32_t total = 1000;
    bool extract = false;
    ErrorHandle result = ErrorHandle::NoError;
    RecordingCallback* page = nullptr;  // to see when the page got its first call
};
Script gScript;
// Holds the worker back until the window thread has closed, so that none of
// its calls is under way as the thread's apartment ends (Wine's COM never
// answers a call caught that way; Windows' answers it as it ends).
class CloseGate {
public:
    void Reset(bool hold) {
        const std::lock_guard<std::mutex> guard(lock_);
        hold_ = hold;
        closed_ = false;
    }
    void Closed() {
        const std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
        changed_.notify_all();
    }
    void Pass() {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return !hold_ || closed_; });
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool hold_ = false;
    bool closed_ = false;
};
CloseGate gCloseGate;

void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
}

// A download worker whose transfer and extraction are scripted.
void ScriptedDownloadThreadFunc(std::unique_ptr<DownloadRequest> request) {
    gCloseGate.Pass();
    ComApartment apartment;
    ExternalMethods& owner = *request->owner;
    const auto callback =
        WorkerPrologue(owner, request->callback,
                       "ScriptedDownloadThreadFunc CoGetInterfaceAndReleaseStream  failed with: ");
    if (!callback) {
        return;
    }
    core::HtmlExternal& host = owner.Framework().Dispatch();
    ProgressJob job(host, callback.Get(), request->url);
    if (gScript.extract) {
        host.Properties().Set("__Extract_ZIP_In_Download_Progress__", "true");
    }
    job.StartProgress(DownloadProgressThreadFunc);
    // No size is known until the page has seen a progress call.
    for (int i = 0; i < 5000 && gScript.page != nullptr && gScript.page->Calls().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (gScript.result != ErrorHandle::NoError) {
        job.SetState(gScript.result);
    } else {
        host.SetProgress(core::kDownloadTotal, static_cast<std::uint32_t>(gScript.total));
        for (std::int32_t current = 0; current <= gScript.total; current += gScript.total / 10) {
            host.SetProgress(core::kDownloadCurrent, static_cast<std::uint32_t>(current));
            Pause();
        }
        job.WaitUntilReported();
    }
    job.JoinProgress();
    if (gScript.extract && gScript.result == ErrorHandle::NoError) {
        job.SetState(ErrorHandle::Running);
        job.StartProgress(InstallProgressThreadFunc);
        for (std::uint32_t entry = 0; entry <= 20; ++entry) {
            host.OnEntry(entry, 20);
            Pause();
        }
        job.WaitUntilReported();
        job.JoinProgress();
        host.SetProgress(core::kDownloadCurrent,
                         static_cast<std::uint32_t>(host.GetProgress(core::kDownloadTotal)));
        host.Properties().Set("__Extract_ZIP_In_Download_Progress__", "false");
    }
    job.Complete(gScript.result, ProgressPair::Download);
}

class WorkerTest : public ::testing::Test {
protected:
    // The test thread is the window thread: a single-threaded apartment, as
    // the host window makes its thread.
    void SetUp() override {
        gScript = Script{};
        gCloseGate.Reset(false);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        apartment_ = true;
        platform::OpenWindowThread();
    }
    // A worker's last word to the page (its final Release) needs the window
    // thread: it answers until the workers are done.
    void TearDown() override {
        EXPECT_TRUE(platform::PumpWindowThreadUntil(
            [this] { return bridge_.Dispatch().WaitForWorkers(0); }, stubtest::kNoTimeLimitMs));
        CloseWindowThread();
    }

    // As the host window's thread ends: its apartment goes with it, so that a
    // worker's call to the page fails at once instead of waiting for a thread
    // that no longer answers.
    void CloseWindowThread() {
        platform::CloseWindowThread();
        if (std::exchange(apartment_, false)) {
            CoUninitialize();
        }
        gCloseGate.Closed();
    }

    HRESULT StartScripted(IDispatch* callback) {
        VARIANT argument;
        VariantInit(&argument);
        argument.vt = VT_DISPATCH;
        argument.pdispVal = callback;
        auto request = std::make_unique<DownloadRequest>();
        request->owner = &bridge_.Methods();
        request->url = "http://127.0.0.1/package.zip";
        return StartWorker(bridge_.Methods(), std::move(request), argument,
                           ScriptedDownloadThreadFunc,
                           "EMTest: CoMarshalInterThreadInterfaceInStream failed with ");
    }

    // Runs one operation with the test thread as the window thread.
    std::vector<RecordingCallback::Call> RunOperation() {
        auto callback = RecordingCallback::Create();
        gScript.page = callback.Get();
        EXPECT_EQ(StartScripted(callback.Get()), S_OK);
        EXPECT_TRUE(platform::PumpWindowThreadUntil([&] { return callback->Finished(); },
                                                    stubtest::kNoTimeLimitMs));
        return callback->Calls();
    }

    void ExpectOneFinalCallLast(const std::vector<RecordingCallback::Call>& calls,
                                ErrorHandle result) {
        ASSERT_FALSE(calls.empty());
        int finals = 0;
        for (const auto& call : calls) {
            EXPECT_EQ(call.thread, std::this_thread::get_id());
            ASSERT_EQ(call.arguments.size(), 3u);
            finals += call.arguments[0] != AsNumber(ErrorHandle::Running) ? 1 : 0;
        }
        EXPECT_EQ(finals, 1);
        EXPECT_EQ(calls.back().arguments[0], AsNumber(result));
        EXPECT_EQ(bridge_.Framework().Core().Properties().Get("downloadTotal"), "1");
        EXPECT_EQ(bridge_.Framework().Core().Properties().Get("downloadCurrent"), "0");
    }

    stubtest::BridgeFixture bridge_;
    bool apartment_ = false;
};

TEST_F(WorkerTest, ProgressAndTheFinalResultArriveOnTheWindowThread) {
    const auto calls = RunOperation();
    ExpectOneFinalCallLast(calls, ErrorHandle::NoError);
    EXPECT_EQ(calls.front().arguments, (std::vector<LONG>{AsNumber(ErrorHandle::Running), 1, 0}));
    LONG last = 0;
    for (std::size_t i = 0; i + 1 < calls.size(); ++i) {
        EXPECT_GE(calls[i].arguments[2], last);
        last = calls[i].arguments[2];
    }
    // The last progress call shows the whole transfer.
    EXPECT_EQ(calls[calls.size() - 2].arguments,
              (std::vector<LONG>{AsNumber(ErrorHandle::Running), 1000, 1000}));
}

TEST_F(WorkerTest, ExtractionFillsTheLastFivePercentOfTheDownloadBar) {
    gScript.extract = true;
    const auto calls = RunOperation();
    ExpectOneFinalCallLast(calls, ErrorHandle::NoError);
    bool sawDownloadEnd = false;
    LONG last = 0;
    for (std::size_t i = 0; i + 1 < calls.size(); ++i) {
        const LONG current = calls[i].arguments[2];
        EXPECT_GE(current, last);
        // The download phase never passes 95 %; only the extraction goes on.
        if (current > 950) {
            EXPECT_TRUE(sawDownloadEnd);
        }
        sawDownloadEnd = sawDownloadEnd || current == 950;
        last = current;
    }
    EXPECT_TRUE(sawDownloadEnd);
    EXPECT_EQ(calls[calls.size() - 2].arguments,
              (std::vector<LONG>{AsNumber(ErrorHandle::Running), 1000, 1000}));
    EXPECT_EQ(bridge_.Framework().Core().Properties().Get("__Extract_ZIP_In_Download_Progress__"),
              "false");
}

TEST_F(WorkerTest, AFailureEndsTheProgressAndIsReportedOnce) {
    gScript.result = ErrorHandle::Md5Error;
    const auto calls = RunOperation();
    ExpectOneFinalCallLast(calls, ErrorHandle::Md5Error);
}

TEST_F(WorkerTest, ClosingTheWindowThreadDropsPageCallsWithoutHangingTheWorker) {
    auto callback = RecordingCallback::Create();
    gCloseGate.Reset(true);
    ASSERT_EQ(StartScripted(callback.Get()), S_OK);
    CloseWindowThread();
    EXPECT_TRUE(bridge_.Dispatch().WaitForWorkers(stubtest::kNoTimeLimitMs));
    EXPECT_TRUE(callback->Calls().empty());
}

TEST_F(WorkerTest, AFailedMarshallingStartsNothing) {
    EXPECT_EQ(StartScripted(nullptr), E_INVALIDARG);
    EXPECT_NE(bridge_.LogText().find(
                  "EMTest: CoMarshalInterThreadInterfaceInStream failed with 80070057"),
              std::string::npos);
}

}  // namespace
