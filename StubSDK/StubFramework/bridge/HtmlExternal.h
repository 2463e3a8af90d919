// The object the page sees as window.external: the dispatch table built from
// the method table, the progress properties, the flags the download driver
// polls, and the extraction progress of archives. The engines reach it only
// through the small interfaces it implements (DownloadHost, InstallHost,
// ZipReporter).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "bridge/FrameworkServices.h"
#include "bridge/MethodTable.h"
#include "core/ProgressBar.h"
#include "downloader/DownloadHost.h"
#include "htmlui/MSHTMLExternal.h"
#include "install/InstallHost.h"
#include "zip/ZipReporter.h"

namespace stubframework::core {

class HtmlExternal final : public htmlui::MSHTMLExternal,
                           public zip::ZipReporter,
                           public DownloadHost,
                           public InstallHost {
public:
    // A new object with one reference, owned by the caller.
    static HtmlExternal* Create(FrameworkServices& framework);

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
    bool SizeProbe() const override { return sizeProbe_ != 0; }
    bool StopDownload() const override { return stopDownload_ != 0; }
    // Set while a folder search runs; cleared to cancel it.
    void SetVerifyActive(bool on) { verifyActive_ = on; }
    const std::atomic<bool>& VerifyActive() const { return verifyActive_; }

    // Extraction fills the first tenth of the install bar.
    void OnEntry(std::uint32_t index, std::uint32_t count) override;
    void SetError(std::uint32_t code) override { lastExtractionError_ = code; }
    std::uint32_t LastExtractionError() const { return lastExtractionError_; }

    std::uint32_t LastInstallError() const { return lastInstallError_; }
    void SetLastInstallError(std::uint32_t error) override { lastInstallError_ = error; }

    // What the engines reach through their host interfaces.
    debug::InstallerLog* Log() const override { return framework_.Log(); }
    std::string ProductId() override;
    core::PropertyStore& Properties() override;
    ProgressBar& DownloadBar() override { return downloadBar_; }
    ProgressBar& InstallBar() override { return installBar_; }
    zip::ZipReporter& ExtractionReporter() override { return *this; }
    int LastWindowWidth() const { return lastWindowWidth_; }
    int LastWindowHeight() const { return lastWindowHeight_; }
    void SetLastWindowSize(int width, int height);

    // Progress properties: written as unsigned decimal, read back as signed
    // 32-bit numbers, each under the property-store lock.
    void SetProgress(const char* name, std::uint32_t value);
    std::int32_t GetProgress(const char* name);
    void ResetDownloadProgress();
    void ResetInstallProgress();

    FrameworkServices& Framework() const { return framework_; }

    // Worker threads count themselves in and out, so the teardown can wait
    // for them before the framework goes.
    void WorkerStarted();
    void WorkerEnded();
    bool WaitForWorkers(std::uint32_t timeoutMs);

private:
    // One pair of progress properties.
    class PropertyBar final : public ProgressBar {
    public:
        PropertyBar(HtmlExternal& host, const char* totalName, const char* currentName)
            : host_(host), totalName_(totalName), currentName_(currentName) {}
        std::int32_t Total() override { return host_.GetProgress(totalName_); }
        std::int32_t Current() override { return host_.GetProgress(currentName_); }
        void SetTotal(std::uint32_t total) override { host_.SetProgress(totalName_, total); }
        void SetCurrent(std::uint32_t current) override {
            host_.SetProgress(currentName_, current);
        }

    private:
        HtmlExternal& host_;
        const char* const totalName_;
        const char* const currentName_;
    };

    explicit HtmlExternal(FrameworkServices& framework) : framework_(framework) {}
    ~HtmlExternal() override = default;

    static HRESULT Trampoline(void* owner, std::uint32_t row, WORD flags, DISPPARAMS* params,
                              VARIANT* result);

    FrameworkServices& framework_;
    PropertyBar downloadBar_{*this, kDownloadTotal, kDownloadCurrent};
    PropertyBar installBar_{*this, kInstallTotal, kInstallCurrent};
    ExternalMethods* methods_ = nullptr;
    std::vector<htmlui::MethodEntry> table_;
    std::vector<MethodRow> rows_;
    std::vector<std::pair<std::string, unsigned>> scriptMethods_;
    int lastWindowWidth_ = 0;
    int lastWindowHeight_ = 0;
    std::atomic<std::uint32_t> lastInstallError_{0};
    std::atomic<std::uint32_t> lastExtractionError_{0};
    std::atomic<std::uint8_t> sizeProbe_{0};
    std::atomic<std::uint8_t> stopDownload_{0};
    std::atomic<bool> verifyActive_{false};

    std::mutex workersLock_;
    std::condition_variable workersDone_;
    int workers_ = 0;
};

}  // namespace stubframework::core
