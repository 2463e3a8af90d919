// A download killed with SIGKILL at several points resumes from its first bad
// block: every rerun ends byte-exact or resumes again, and no block that was
// complete on disk before a kill is sent again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/ReleaseServer.h"
#include "support/Sandbox.h"

namespace {

constexpr std::int64_t kMiB = 1048576;
constexpr std::int64_t kSize = 64 * kMiB;

// Runs stub-download, killing it once its progress passes `killAt` (never
// when negative). Its exit status, or -1 when it was killed.
int RunDownload(const std::string& url, const std::string& path, std::int64_t killAt) {
    const std::string program = stubtest::Sandbox::BinPath("stub-download");
    const char* const arguments[] = {program.c_str(), url.c_str(), path.c_str(), "--progress",
                                     nullptr};
    int out[2];
    if (pipe(out) != 0) {
        return -2;
    }
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execv(program.c_str(), const_cast<char* const*>(arguments));
        _exit(127);
    }
    close(out[1]);
    std::FILE* lines = fdopen(out[0], "r");
    long long current = 0;
    long long total = 0;
    bool killed = false;
    while (std::fscanf(lines, "progress %lld %lld\n", &current, &total) == 2) {
        if (killAt >= 0 && current >= killAt) {
            kill(child, SIGKILL);
            killed = true;
            break;
        }
    }
    std::fclose(lines);
    int status = 0;
    waitpid(child, &status, 0);
    if (killed || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Indexes of the blocks of `local` equal to the package's.
std::vector<bool> CompleteBlocks(const std::string& local, const std::string& package) {
    std::vector<bool> complete(static_cast<std::size_t>(kSize / kMiB), false);
    for (std::size_t block = 0; block < complete.size(); ++block) {
        const std::size_t at = block * kMiB;
        complete[block] =
            local.size() >= at + kMiB && local.compare(at, kMiB, package, at, kMiB) == 0;
    }
    return complete;
}

TEST(DownloadKillTest, EveryRerunResumesWithoutResendingCompleteBlocks) {
    stubtest::ReleaseServer server;
    const std::string package = stubtest::PackageBytes(kSize, 7);
    server.AddPackage("big.bin", package);
    stubtest::TestFolder folder;
    const std::string local = folder / "big.bin";
    // About two seconds a run, so the kills land inside the transfer.
    const std::string url = server.Url("big.bin", "slow=33554432");

    std::size_t previousFirstBad = 0;
    for (const std::int64_t killAt : {kSize / 5, kSize / 2, kSize * 4 / 5, std::int64_t{-1}}) {
        const std::vector<bool> complete = CompleteBlocks(stubtest::ReadFile(local), package);
        std::size_t firstBad = 0;
        while (firstBad < complete.size() && complete[firstBad]) {
            ++firstBad;
        }
        if (killAt != kSize / 5) {
            EXPECT_GT(firstBad, previousFirstBad) << "the killed run kept nothing";
        }
        previousFirstBad = firstBad;
        server.ResetStats();
        const int status = RunDownload(url, local, killAt);
        SCOPED_TRACE("kill at " + std::to_string(killAt));
        if (killAt < 0) {
            EXPECT_EQ(status, 0);
        } else {
            EXPECT_EQ(status, -1) << "the download ended before the kill point";
        }
        for (const auto& request : server.Requests()) {
            if (request.path.find(".meta") != std::string::npos) {
                continue;
            }
            EXPECT_EQ(request.range,
                      "bytes=" + std::to_string(firstBad * kMiB) + "-" + std::to_string(kSize - 1));
        }
        for (std::size_t block = firstBad; block < complete.size(); ++block) {
            EXPECT_FALSE(complete[block]) << "block " << block << " was complete but sent again";
        }
        EXPECT_LE(server.SentBytes("/big.bin"), kSize - static_cast<std::int64_t>(firstBad) * kMiB);
    }
    EXPECT_TRUE(stubtest::ReadFile(local) == package) << "the file is not byte-exact";
}

// Python's own http.server answers ranges with the whole file: a cut
// download still finishes against it, run after run.
TEST(DownloadKillTest, ACutDownloadFinishesAgainstAServerWithoutRanges) {
    const std::string package = stubtest::PackageBytes(5 * kMiB + 77, 3);
    stubtest::TestFolder site;
    stubtest::WriteFile(site / "p.bin", package);
    ASSERT_EQ(std::system(("'" + stubtest::Sandbox::BinPath("stub-meta") + "' '" +
                           (site / "p.bin") + "' >/dev/null")
                              .c_str()),
              0);
    const std::string portFile = site / "port";
    const pid_t server = fork();
    if (server == 0) {
        execlp("python3", "python3", "-c",
               "import functools, http.server, sys\n"
               "handler = functools.partial(http.server.SimpleHTTPRequestHandler,"
               " directory=sys.argv[1])\n"
               "handler.log_message = lambda *a: None\n"
               "s = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)\n"
               "open(sys.argv[2] + '.p', 'w').write(str(s.server_address[1]))\n"
               "import os; os.rename(sys.argv[2] + '.p', sys.argv[2])\n"
               "s.serve_forever()\n",
               site.Path().c_str(), portFile.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    while (stubtest::ReadFile(portFile).empty()) {
        ASSERT_EQ(waitpid(server, nullptr, WNOHANG), 0) << "the server did not start";
        usleep(10000);
    }
    const std::string url = "http://127.0.0.1:" + stubtest::ReadFile(portFile) + "/p.bin";
    stubtest::TestFolder folder;
    const std::string local = folder / "p.bin";
    for (const std::size_t cut :
         {std::size_t{0}, 3 * static_cast<std::size_t>(kMiB) + 5, package.size() - 1}) {
        stubtest::WriteFile(local, package.substr(0, cut));
        EXPECT_EQ(RunDownload(url, local, -1), 0) << "cut at " << cut;
        EXPECT_TRUE(stubtest::ReadFile(local) == package) << "cut at " << cut;
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
}

}  // namespace
