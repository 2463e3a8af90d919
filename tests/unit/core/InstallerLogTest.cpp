#include "core/InstallerLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "bridge/FrameworkServices.h"
#include "support/TestFolder.h"

namespace {

using stubframework::debug::InstallerLog;
using stubframework::platform::SystemTime;

std::vector<std::string> Lines(const std::string& content) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = content.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        lines.push_back(content.substr(start, end - start));
    }
    return lines;
}

class InstallerLogTest : public ::testing::Test {
protected:
    stubtest::TestFolder temp_;
    stubtest::ScopedTempPath tmpdir_{temp_.Path()};
};

TEST(InstallerLogFormatTest, FileNameAndHeaderBytes) {
    const SystemTime time{2024, 1, 31, 23, 59, 59, 7};
    EXPECT_EQ(InstallerLog::FileNameFor(time), "installer_log_20240131235959.txt");
    EXPECT_EQ(InstallerLog::HeaderFor(time, 4), "[20240131 23:59:59   7 DEBUG] ");
    EXPECT_EQ(InstallerLog::HeaderFor({2026, 12, 8, 1, 2, 3, 456}, 1),
              "[20261208 01:02:03 456 TRACE] ");
    EXPECT_EQ(InstallerLog::HeaderFor(time, 2), "[20240131 23:59:59   7 ERROR] ");
    EXPECT_EQ(InstallerLog::HeaderFor(time, 3), "[20240131 23:59:59   7 WARNING] ");
}

TEST_F(InstallerLogTest, WritesLevelsUpToTheThresholdAsCrLfLines) {
    std::string path;
    {
        InstallerLog log;
        path = log.FilePath();
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(std::filesystem::path(path).parent_path().parent_path().string(), temp_.Path());
        EXPECT_TRUE(std::regex_match(std::filesystem::path(path).filename().string(),
                                     std::regex(R"(installer_log_\d{14}\.txt)")));
        log.Write(1, "trace %d", 1);
        log.Write(4, "debug %s", "two");
        log.Write(5, "never");
        stubframework::debug::LogTraceMessage(&log, "HttpTask::Open", "%s", "url");
        const std::vector<std::string> lines = Lines(stubtest::ReadFile(path));
        ASSERT_EQ(lines.size(), 3u);
        const std::regex header(R"(\[\d{8} \d\d:\d\d:\d\d [ \d]{2}\d (TRACE|DEBUG)\] .*)");
        EXPECT_TRUE(std::regex_match(lines[0], header)) << lines[0];
        EXPECT_TRUE(lines[0].ends_with("TRACE] trace 1"));
        EXPECT_TRUE(lines[1].ends_with("DEBUG] debug two"));
        EXPECT_TRUE(lines[2].ends_with("TRACE] HttpTask::Open> url"));
    }
    // The log's own folder goes with it.
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(path).parent_path()));
}

TEST_F(InstallerLogTest, MessagesAfterCloseLeaveTheFileUnchanged) {
    InstallerLog log;
    log.Write(4, "before");
    log.Close();
    const std::string before = stubtest::ReadFile(log.FilePath());
    log.Write(2, "after");
    stubframework::debug::LogErrorMessage(&log, "after %d", 2);
    EXPECT_EQ(stubtest::ReadFile(log.FilePath()), before);
    EXPECT_EQ(Lines(before).size(), 1u);
}

TEST_F(InstallerLogTest, TraceMessagesAreCutTo1023Characters) {
    InstallerLog log;
    const std::string longText(3000, 'y');
    stubframework::debug::LogTraceMessage(&log, "Src", "%s", longText.c_str());
    const std::vector<std::string> lines = Lines(stubtest::ReadFile(log.FilePath()));
    ASSERT_EQ(lines.size(), 1u);
    const std::string body = lines[0].substr(lines[0].find("] ") + 2);
    EXPECT_EQ(body, "Src> " + std::string(1023, 'y'));
}

TEST_F(InstallerLogTest, ConcurrentWritersAndAnEarlyCloseKeepLinesWhole) {
    InstallerLog log;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&log, t] {
            for (int i = 0; i < 300; ++i) {
                log.Write(4, "writer %d message %d %s", t, i, std::string(100, 'a' + t).c_str());
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    log.Close();
    for (auto& writer : writers) {
        writer.join();
    }
    const std::string content = stubtest::ReadFile(log.FilePath());
    ASSERT_TRUE(content.empty() || content.ends_with("\r\n"));
    const std::regex line(R"(\[[^\]]+ DEBUG\] writer (\d) message \d+ ([a-d])\2{99})");
    for (const std::string& text : Lines(content)) {
        EXPECT_TRUE(std::regex_match(text, line)) << text;
    }
}

TEST_F(InstallerLogTest, NoFolderMeansEveryMessageIsDropped) {
    stubtest::ScopedTempPath missing(temp_ / "missing");
    InstallerLog log;
    EXPECT_TRUE(log.FilePath().empty());
    EXPECT_TRUE(log.Folder().empty());
    log.Write(2, "dropped");
    stubframework::debug::FrameworkErrorMessage(nullptr, "no framework");
}

}  // namespace
