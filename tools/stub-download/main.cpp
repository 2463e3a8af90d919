// stub-download URL PATH [--progress] [--verbose]
// Downloads a package the way the installer does: its meta file from
// URL.meta, then the package into PATH, verified block by block and resumed
// from what is already good on disk. Exit status 0 on success, else 1 with
// the result code on stderr.
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/PrintfFormat.h"
#include "downloader/DownloadSimpleTask.h"
#include "downloader/Object.h"
#include "platform/thread.h"

namespace {

using namespace downloader;

class StderrLogger : public ILogger {
public:
    explicit StderrLogger(bool enabled) : enabled_(enabled) {}
    void Log(const char* function, const char* format, ...) override STUB_PRINTF_FORMAT(3, 4) {
        if (!enabled_) {
            return;
        }
        std::va_list arguments;
        va_start(arguments, format);
        std::fprintf(stderr, "%s> ", function);
        std::vfprintf(stderr, format, arguments);
        std::fputc('\n', stderr);
        va_end(arguments);
    }

protected:
    ~StderrLogger() = default;

private:
    const bool enabled_;
};

class Waiter : public IDownloadCallback {
public:
    explicit Waiter(bool progress) : progress_(progress) {}
    void OnProgress(std::int64_t current, std::int64_t total) override {
        if (progress_) {
            std::printf("progress %" PRId64 " %" PRId64 "\n", current, total);
            std::fflush(stdout);
        }
    }
    void OnComplete(Result result) override {
        result_ = result;
        done_.Set();
    }
    Result Wait() {
        done_.Wait();
        return result_;
    }

protected:
    ~Waiter() = default;

private:
    const bool progress_;
    stubframework::platform::Event done_{true};
    Result result_ = kFailed;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: stub-download URL PATH [--progress] [--verbose]\n");
        return 2;
    }
    bool progress = false;
    bool verbose = false;
    for (int i = 3; i < argc; ++i) {
        progress = progress || std::strcmp(argv[i], "--progress") == 0;
        verbose = verbose || std::strcmp(argv[i], "--verbose") == 0;
    }
    const std::string url = argv[1];
    const auto logger = Ptr<ILogger>::Attach(details::Create<StderrLogger>(verbose));
    const auto waiter = Ptr<Waiter>::Attach(details::Create<Waiter>(progress));
    const auto task = Ptr<ITask>::Attach(
        CreateDownloadSimpleTask(url, url + ".meta", argv[2], waiter.Get(), logger.Get()));
    if (!logger || !waiter || !task) {
        std::fprintf(stderr, "stub-download: out of memory\n");
        return 1;
    }
    task->Start();
    const Result result = waiter->Wait();
    if (result != kSuccess) {
        std::fprintf(stderr, "stub-download: failed with 0x%08X\n", static_cast<unsigned>(result));
        return 1;
    }
    return 0;
}
