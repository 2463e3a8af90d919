// Base of the download-engine tests: a release server, a recording logger,
// and a check that every engine object is gone when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "downloader/Object.h"
#include "support/DownloadRecorders.h"
#include "support/ReleaseServer.h"

namespace stubtest {

using downloader::Ptr;

// A new engine object, held.
template <class T>
Ptr<T> Make() {
    return Ptr<T>::Attach(downloader::details::Create<T>());
}

class EngineTest : public ::testing::Test {
protected:
    void TearDown() override {
        logger.Reset();
        // A task drops its last reference just after it reports its end; a
        // leak keeps this waiting until the test's time-out.
        while (downloader::details::LiveObjects() != baseline_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_EQ(downloader::details::LiveObjects(), baseline_) << "an engine object leaked";
    }

    // Waits a moment after the end, so a second end would be seen.
    template <class Recorder>
    void ExpectOneEnd(Recorder& recorder) {
        ASSERT_TRUE(recorder.WaitEnd()) << "no end reported";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(recorder.Ends(), 1);
    }

private:
    const std::int64_t baseline_ = downloader::details::LiveObjects();

protected:
    ReleaseServer server;
    Ptr<RecordingLogger> logger = Make<RecordingLogger>();
};

}  // namespace stubtest
