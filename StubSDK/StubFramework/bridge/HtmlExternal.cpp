#include "bridge/HtmlExternal.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <limits>

#include "bridge/ExternalMethods.h"
#include "bridge/WindowPlacement.h"
#include "core/FrameworkCore.h"
#include "platform/window.h"

namespace stubframework::core {

HtmlExternal* HtmlExternal::Create(FrameworkServices& framework) {
    return new HtmlExternal(framework);  // reference-counted: Release deletes it
}

void HtmlExternal::BuildDispatchTable(ExternalMethods& methods) {
    methods_ = &methods;
    table_.clear();
    rows_.clear();
    scriptMethods_.clear();
    // The names point into the method map, which no longer changes.
    for (const auto& [name, row] : methods.Methods()) {
        table_.push_back({name.c_str(), &HtmlExternal::Trampoline});
        rows_.push_back(row);
        scriptMethods_.emplace_back(name, ScriptFlags(row.signature));
    }
    ResetDownloadProgress();
    ResetInstallProgress();
}

HRESULT HtmlExternal::Trampoline(void* owner, std::uint32_t row, WORD flags, DISPPARAMS* params,
                                 VARIANT* result) {
    auto* self = static_cast<HtmlExternal*>(owner);
    return CallMethod(*self->methods_, self->rows_[row], flags, params, result);
}

htmlui::MethodTableView HtmlExternal::GetMethodTable() {
    return {table_.data(), static_cast<std::uint32_t>(table_.size()), this};
}

void HtmlExternal::SetHostWindow(htmlui::WindowHandle window) {
    if (window == HostWindow()) {
        return;
    }
    MSHTMLExternal::SetHostWindow(window);
    if (methods_ != nullptr) {
        methods_->SetHostWindow(window);
    }
}

void HtmlExternal::FitInitialWindow() {
    const platform::window::Rect client = platform::window::ClientRect(HostWindow());
    if (client.Width() != 0 && client.Height() != 0) {
        return;
    }
    platform::window::SetPosition(HostWindow(), PlaceWindow(HostWindow(), 400, 200));
}

std::string HtmlExternal::ProductId() {
    return framework_.Core().ProductId();
}

core::PropertyStore& HtmlExternal::Properties() {
    return framework_.Core().Properties();
}

void HtmlExternal::OnEntry(std::uint32_t index, std::uint32_t count) {
    SetProgress(kInstallCurrent, index / 10);
    SetProgress(kInstallTotal, count);
}

void HtmlExternal::SetLastWindowSize(int width, int height) {
    lastWindowWidth_ = width;
    lastWindowHeight_ = height;
}

void HtmlExternal::SetProgress(const char* name, std::uint32_t value) {
    Properties().Set(name, std::to_string(value));
}

std::int32_t HtmlExternal::GetProgress(const char* name) {
    const std::string text = Properties().Get(name);
    // Out-of-range values saturate, as the Windows reader does: a wrapped
    // 3 GiB total would read negative and end the progress at once.
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long long>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

void HtmlExternal::ResetDownloadProgress() {
    SetProgress(kDownloadTotal, 1);
    SetProgress(kDownloadCurrent, 0);
}

void HtmlExternal::ResetInstallProgress() {
    SetProgress(kInstallTotal, 1);
    SetProgress(kInstallCurrent, 0);
}

void HtmlExternal::WorkerStarted() {
    const std::lock_guard<std::mutex> lock(workersLock_);
    ++workers_;
}

void HtmlExternal::WorkerEnded() {
    // Notify under the lock: the waiter may release this object at once.
    const std::lock_guard<std::mutex> lock(workersLock_);
    --workers_;
    workersDone_.notify_all();
}

bool HtmlExternal::WaitForWorkers(std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(workersLock_);
    return workersDone_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [this] { return workers_ == 0; });
}

}  // namespace stubframework::core
