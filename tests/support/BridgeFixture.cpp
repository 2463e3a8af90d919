#include "support/BridgeFixture.h"

#include <cstdlib>
#include <optional>

#include "core/InstallerLog.h"

namespace stubtest {
namespace {

// The framework stores the machine identifier as it is made: in the test's
// install root when it set one, else in this fixture's folder, never in the
// user's own data.
std::unique_ptr<stubframework::StubFramework> MakeFramework(const std::string& folder) {
    std::optional<ScopedEnv> root;
    if (std::getenv("STUB_INSTALL_ROOT") == nullptr) {
        root.emplace("STUB_INSTALL_ROOT", folder + "/root");
    }
    return std::make_unique<stubframework::StubFramework>(
        stubframework::core::ProductValues{"Brindlemark", "24.0.0", "test"}, nullptr);
}

}  // namespace

BridgeFixture::BridgeFixture()
    : tmpdir_(temp_.Path()),
      registry_("STUB_REGISTRY_DIR", temp_.Path()),
      framework_(MakeFramework(temp_.Path())),
      methods_(std::make_unique<myexternalmethods::MyExternalMethods>(*framework_)) {
    framework_->Dispatch().BuildDispatchTable(*methods_);
}

BridgeFixture::~BridgeFixture() {
    // Threads the methods started must not outlive the framework.
    framework_->Dispatch().WaitForWorkers(kNoTimeLimitMs);
    framework_.reset();
    methods_.reset();
}

std::string BridgeFixture::LogText() const {
    return ReadFile(framework_->Log()->FilePath());
}

stubframework::platform::com::Ptr<RecordingCallback> RecordingCallback::Create() {
    return stubframework::platform::com::Ptr<RecordingCallback>::Attach(new RecordingCallback());
}

HRESULT STDMETHODCALLTYPE RecordingCallback::QueryInterface(REFIID riid, void** object) {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        AddRef();
        *object = static_cast<IDispatch*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE RecordingCallback::AddRef() {
    return ++references_;
}

ULONG STDMETHODCALLTYPE RecordingCallback::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT STDMETHODCALLTYPE RecordingCallback::GetTypeInfoCount(UINT* /*count*/) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE RecordingCallback::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE RecordingCallback::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE RecordingCallback::Invoke(DISPID id, REFIID, LCID, WORD flags,
                                                    DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                                    UINT*) {
    if (id != DISPID_VALUE || flags != DISPATCH_METHOD) {
        return DISP_E_MEMBERNOTFOUND;
    }
    Call call{std::this_thread::get_id(), {}};
    for (UINT i = params->cArgs; i > 0; --i) {
        call.arguments.push_back(params->rgvarg[i - 1].vt == VT_I4 ? params->rgvarg[i - 1].lVal
                                                                   : -999);
    }
    const std::lock_guard<std::mutex> lock(lock_);
    calls_.push_back(std::move(call));
    return S_OK;
}

std::vector<RecordingCallback::Call> RecordingCallback::Calls() const {
    const std::lock_guard<std::mutex> lock(lock_);
    return calls_;
}

bool RecordingCallback::Finished() const {
    const std::lock_guard<std::mutex> lock(lock_);
    for (const Call& call : calls_) {
        if (!call.arguments.empty() && call.arguments[0] != 10) {
            return true;
        }
    }
    return false;
}

}  // namespace stubtest
