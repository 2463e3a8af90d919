// A second product on the framework for process-level tests. It behaves like
// the real installer, except that while it runs it can
//  - keep its "window" open while the file named by STUB_TEST_HOLD_FILE exists;
//  - act as the pages do when they choose to self-update: put the program
//    named by STUB_TEST_NEW_VERSION beside itself, record it, and end with the
//    self-update code, or with STUB_TEST_EXIT_CODE when that is set;
//  - or call the real selfUpdate(STUB_TEST_SELF_UPDATE_URL) unless started
//    with update=0, as the pages do, and wait for it;
//  - run testProgress(durationMs, callback): a worker whose transfer takes
//    durationMs, reporting through the real progress machinery, and counting
//    the calls it makes into the property "testCalls".
//  - run testCallbacks(count, perSecond, callback): progress calls at a
//    steady rate, then the final one (for the benchmark).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/Framework.h"
#include "app/MainSequence.h"
#include "bridge/DownloadMethods.h"
#include "bridge/ExternalMethods.h"
#include "bridge/MethodTable.h"
#include "bridge/Workers.h"
#include "core/CommandLine.h"
#include "core/RegistryText.h"
#include "platform/fs.h"
#include "platform/process.h"

namespace {

namespace fs = stubframework::platform::fs;
namespace process = stubframework::platform::process;

constexpr const char* kNewVersionName = "BrindlemarkInstall.new";

void HoldWhileFileExists(const std::string& path) {
    for (int i = 0; i < 1500 && fs::Exists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void StageSelfUpdate(stubframework::core::FrameworkCore& core, const std::string& newVersion) {
    const std::string self = process::ExecutablePath();
    const std::string folder = self.substr(0, self.rfind('/') + 1);
    fs::CopyFile(newVersion, folder + kNewVersionName, false);
    stubframework::core::WriteRegistryText(core.RegistryBase(), "update_stub_name",
                                           kNewVersionName);
    stubframework::core::WriteRegistryText(core.RegistryBase(), "selfupdate_code", "197800");
    core.SetExitCode(stubframework::kSelfUpdateExitCode);
}

// Passes every page call on and counts it.
class CountingCallback final : public IDispatch {
public:
    explicit CountingCallback(IDispatch* inner) : inner_(inner) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return inner_->QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        return inner_->GetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return inner_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return inner_->GetIDsOfNames(riid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override {
        ++calls_;
        return inner_->Invoke(id, riid, locale, flags, params, result, exception, argumentError);
    }
    int Calls() const { return calls_; }

private:
    IDispatch* inner_;
    std::atomic<int> calls_{0};
};

// A page function that ignores its calls.
class IgnoringCallback final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT /*index*/, LCID /*locale*/,
                                          ITypeInfo** /*info*/) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID /*riid*/, LPOLESTR* /*names*/, UINT /*count*/,
                                            LCID /*locale*/, DISPID* /*ids*/) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID /*id*/, REFIID /*riid*/, LCID /*locale*/,
                                     WORD /*flags*/, DISPPARAMS* /*params*/, VARIANT* /*result*/,
                                     EXCEPINFO* /*exception*/, UINT* /*argumentError*/) override {
        return S_OK;
    }
};

// The real method, called as a page calls it, and waited for.
void SelfUpdateFrom(stubframework::ExternalMethods& methods, const std::string& url) {
    static IgnoringCallback ignoring;
    VARIANT arguments[2];  // last first
    VariantInit(&arguments[0]);
    arguments[0].vt = VT_DISPATCH;
    arguments[0].pdispVal = &ignoring;
    VariantInit(&arguments[1]);
    arguments[1].vt = VT_BSTR;
    arguments[1].bstrVal = stubframework::platform::com::AllocString(url);
    DISPPARAMS params{arguments, nullptr, 2, 0};
    stubframework::methods::selfUpdate(methods, DISPATCH_METHOD, &params, nullptr);
    methods.Dispatch().WaitForWorkers(0xFFFFFFFFu);
    VariantClear(&arguments[1]);
}

void TestProgressThreadFunc(std::unique_ptr<stubframework::InstallRequest> request) {
    using namespace stubframework;
    ComApartment apartment;
    ExternalMethods& owner = *request->owner;
    const auto callback = WorkerPrologue(owner, request->callback, "TestProgressThreadFunc: ");
    if (!callback) {
        return;
    }
    CountingCallback counting(callback.Get());
    core::HtmlExternal& host = owner.Dispatch();
    const auto duration = static_cast<std::uint32_t>(request->estimatedTime);
    {
        ProgressJob job(host, &counting, "testProgress");
        host.SetProgress(core::kDownloadTotal, duration);
        job.StartProgress(DownloadProgressThreadFunc);
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            const auto elapsed =
                static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count());
            host.SetProgress(core::kDownloadCurrent, std::min(elapsed, duration));
            if (elapsed >= duration) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        job.WaitUntilReported();
        job.JoinProgress();
        // The final call is counted too.
        host.Properties().Set("testCalls", std::to_string(counting.Calls() + 1));
        job.Complete(stubframework::ErrorHandle::NoError, ProgressPair::Download);
    }
}

// callback(Running, count, i) `count` times at `perSecond`, then
// callback(NoError): a steady stream of progress calls for the benchmark.
void TestCallbacksThreadFunc(std::unique_ptr<stubframework::InstallRequest> request) {
    using namespace stubframework;
    ComApartment apartment;
    const auto callback = WorkerPrologue(*request->owner, request->callback, "TestCallbacks: ");
    if (!callback) {
        return;
    }
    const auto count = static_cast<std::int32_t>(request->estimatedTime);
    const int perSecond = std::max(1, std::atoi(request->parameters.c_str()));
    const auto start = std::chrono::steady_clock::now();
    for (std::int32_t i = 1; i <= count; ++i) {
        std::this_thread::sleep_until(start + std::chrono::microseconds(1000000LL * i / perSecond));
        CallPage(callback.Get(), ErrorHandle::Running, count, i);
    }
    CallPage(callback.Get(), ErrorHandle::NoError);
}

HRESULT testCallbacks(stubframework::ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                      VARIANT* /*result*/) {
    auto request = std::make_unique<stubframework::InstallRequest>();
    request->owner = &owner;
    request->estimatedTime = stubframework::IntArgument(params, 0);
    request->parameters = std::to_string(stubframework::IntArgument(params, 1));
    return stubframework::StartWorker(owner, std::move(request),
                                      stubframework::ScriptArgument(params, 2),
                                      TestCallbacksThreadFunc, "EMTestCallbacks: failed with ");
}

HRESULT testProgress(stubframework::ExternalMethods& owner, WORD /*flags*/, DISPPARAMS* params,
                     VARIANT* /*result*/) {
    auto request = std::make_unique<stubframework::InstallRequest>();
    request->owner = &owner;
    request->estimatedTime = stubframework::IntArgument(params, 0);
    return stubframework::StartWorker(owner, std::move(request),
                                      stubframework::ScriptArgument(params, 1),
                                      TestProgressThreadFunc, "EMTestProgress: failed with ");
}

}  // namespace

int main(int argc, char** argv) {
    process::SetArguments(argc, argv);
    auto framework = stubframework::Start({"Brindlemark", "24.0.0", "test"});
    if (!framework) {
        return 0;
    }
    auto methods = std::make_unique<stubframework::ExternalMethods>(*framework);
    constexpr stubframework::MethodRow kTestMethods[] = {
        {"testProgress", stubframework::kMethod, {VT_I4, VT_DISPATCH}, testProgress},
        {"testCallbacks", stubframework::kMethod, {VT_I4, VT_I4, VT_DISPATCH}, testCallbacks},
    };
    methods->RegisterMethods(kTestMethods);
    if (const std::string hold = process::EnvironmentVariable("STUB_TEST_HOLD_FILE");
        !hold.empty()) {
        HoldWhileFileExists(hold);
    }
    stubframework::Run(*framework, *methods);
    if (const std::string url = process::EnvironmentVariable("STUB_TEST_SELF_UPDATE_URL");
        !url.empty() &&
        !stubframework::core::IsSkipSelfUpdate(stubframework::core::CommandLineArguments())) {
        SelfUpdateFrom(*methods, url);
    }
    if (const std::string next = process::EnvironmentVariable("STUB_TEST_NEW_VERSION");
        !next.empty()) {
        StageSelfUpdate(framework->Core(), next);
    }
    const std::string exitCode = process::EnvironmentVariable("STUB_TEST_EXIT_CODE");
    if (!exitCode.empty()) {
        framework->Core().SetExitCode(std::atoi(exitCode.c_str()));
    }
    const int code = framework->Core().ExitCode();
    stubframework::Teardown(std::move(framework));
    methods.reset();
    return exitCode.empty() ? 0 : code;
}
