// A framework with its method table and dispatch object, in a sandbox, for
// tests that call the bridge the way the page would.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MyExternalMethods.h"
#include "app/Framework.h"
#include "platform/com.h"
#include "support/TestFolder.h"

namespace stubtest {

class BridgeFixture {
public:
    BridgeFixture();
    ~BridgeFixture();

    stubframework::StubFramework& Framework() { return *framework_; }
    stubframework::core::HtmlExternal& Dispatch() { return framework_->Dispatch(); }
    myexternalmethods::MyExternalMethods& Methods() { return *methods_; }
    std::string LogText() const;

private:
    TestFolder temp_;
    ScopedTempPath tmpdir_;
    ScopedEnv registry_;
    std::unique_ptr<stubframework::StubFramework> framework_;
    std::unique_ptr<myexternalmethods::MyExternalMethods> methods_;
};

// A page function: records every call with the thread it arrived on.
class RecordingCallback final : public IDispatch {
public:
    struct Call {
        std::thread::id thread;
        std::vector<LONG> arguments;  // script order
    };

    static stubframework::platform::com::Ptr<RecordingCallback> Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

    std::vector<Call> Calls() const;
    // True once a call with a result other than 10 (Running) has arrived.
    bool Finished() const;

private:
    RecordingCallback() = default;
    ~RecordingCallback() = default;

    std::atomic<ULONG> references_{1};
    mutable std::mutex lock_;
    std::vector<Call> calls_;
};

}  // namespace stubtest
