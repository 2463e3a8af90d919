// The object the page sees as window.external: the dispatch table built from
// the method table, the progress properties, the flags the download driver
// polls, and the extraction progress of archives.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bridge/MethodHandler.h"
#include "htmlui/MSHTMLExternal.h"
#include "zip/ZipReporter.h"

namespace stubframework {
class StubFramework;
}

namespace stubframework::core {

inline constexpr const char* kDownloadTotal = "downloadTotal";
inline constexpr const char* kDownloadCurrent = "downloadCurrent";
inline constexpr const char* kInstallTotal = "installTotal";
inline constexpr const char* kInstallCurrent = "installCurrent";

class HtmlExternal final : public htmlui::MSHTMLExternal, public zip::ZipReporter {
public:
    // A new object with one reference, owned by the caller.
    static HtmlExternal* Create(StubFramework& framework);

    // Copies the methods in table order into the dispatch table (DISPIDs
    // 1..N follow that order) and sets the progress properties to their
    // initial values.
    void BuildDispatchTable(ExternalMethods& methods);

    void SetHostWindow(htmlui::WindowHandle window) override;
    // A page that has not sized the window by now gets 400 x 200.
    void FitInitialWindow() override;
    htmlui::MethodTableView GetMethodTable() override;
    // The names of the dispatch table with the flags a script engine uses.
    const std::vector<std::pair<std::string, unsigned>>& ScriptMethods() const {
        return scriptMethods_;
    }

    // Flags written by one thread and polled by another.
    virtual void SetSizeProbe(std::uint8_t on) { sizeProbe_ = on; }
    virtual void SetStopDownload(std::uint8_t on) { stopDownload_ = on; }
    bool SizeProbe() const { return sizeProbe_ != 0; }
    bool StopDownload() const { return stopDownload_ != 0; }

    // Extraction fills the first tenth of the install bar.
    void OnEntry(std::uint32_t index, std::uint32_t count) override;
    void SetError(std::uint32_t code) override { lastExtractionError_ = code; }
    std::uint32_t LastExtractionError() const { return lastExtractionError_; }

    std::uint32_t LastInstallError() const { return lastInstallError_; }
    void SetLastInstallError(std::uint32_t error) { lastInstallError_ = error; }
    int LastWindowWidth() const { return lastWindowWidth_; }
    int LastWindowHeight() const { return lastWindowHeight_; }
    void SetLastWindowSize(int width, int height);

    // Progress properties: written as unsigned decimal, read back as signed
    // 32-bit numbers, each under the property-store lock.
    void SetProgress(const char* name, std::uint32_t value);
    std::int32_t GetProgress(const char* name);
    void ResetDownloadProgress();
    void ResetInstallProgress();

    StubFramework& Framework() const { return framework_; }

    // Worker threads count themselves in and out, so the teardown can wait
    // for them before the framework goes.
    void WorkerStarted();
    void WorkerEnded();
    bool WaitForWorkers(std::uint32_t timeoutMs);

private:
    explicit HtmlExternal(StubFramework& framework) : framework_(framework) {}
    ~HtmlExternal() override = default;

    static HRESULT Trampoline(void* owner, std::uint32_t row, WORD flags, DISPPARAMS* params,
                              VARIANT* result);

    StubFramework& framework_;
    ExternalMethods* methods_ = nullptr;
    std::vector<htmlui::MethodEntry> table_;
    std::vector<MethodHandler> handlers_;
    std::vector<std::pair<std::string, unsigned>> scriptMethods_;
    int lastWindowWidth_ = 0;
    int lastWindowHeight_ = 0;
    std::atomic<std::uint32_t> lastInstallError_{0};
    std::atomic<std::uint32_t> lastExtractionError_{0};
    std::atomic<std::uint8_t> sizeProbe_{0};
    std::atomic<std::uint8_t> stopDownload_{0};

    std::mutex workersLock_;
    std::condition_variable workersDone_;
    int workers_ = 0;
};

}  // namespace stubframework::core
