#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/com.h"
#include "platform/thread.h"
#include "platform/unicode.h"
#include "platform/windowthread.h"

const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatchEx = {
    0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A BSTR points just past a 32-bit byte count and ends with a null unit.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    const std::size_t bytes = static_cast<std::size_t>(length) * sizeof(OLECHAR);
    auto* block =
        static_cast<std::uint8_t*>(std::malloc(sizeof(std::uint32_t) + bytes + sizeof(OLECHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    const auto byteCount = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &byteCount, sizeof byteCount);
    auto* chars = reinterpret_cast<OLECHAR*>(block + sizeof(std::uint32_t));
    if (text != nullptr) {
        std::memcpy(chars, text, bytes);
    } else {
        std::memset(chars, 0, bytes);
    }
    chars[length] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) {
        return nullptr;
    }
    UINT length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return SysAllocStringLen(text, length);
}

void SysFreeString(BSTR text) {
    if (text != nullptr) {
        std::free(reinterpret_cast<std::uint8_t*>(text) - sizeof(std::uint32_t));
    }
}

UINT SysStringLen(BSTR text) {
    if (text == nullptr) {
        return 0;
    }
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<std::uint8_t*>(text) - sizeof bytes, sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

void VariantInit(VARIANT* variant) {
    std::memset(variant, 0, sizeof *variant);
    variant->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* variant) {
    switch (variant->vt) {
        case VT_BSTR:
            SysFreeString(variant->bstrVal);
            break;
        case VT_DISPATCH:
        case VT_UNKNOWN:
            if (variant->punkVal != nullptr) {
                variant->punkVal->Release();
            }
            break;
        default:
            break;
    }
    VariantInit(variant);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* target, const VARIANT* source) {
    if (target == source) {
        return S_OK;
    }
    VariantClear(target);
    std::memcpy(target, source, sizeof *target);
    if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
        target->bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (target->bstrVal == nullptr) {
            VariantInit(target);
            return E_OUTOFMEMORY;
        }
    } else if ((source->vt == VT_DISPATCH || source->vt == VT_UNKNOWN) &&
               source->punkVal != nullptr) {
        source->punkVal->AddRef();
    }
    return S_OK;
}

// Apartments are implicit here: the window thread is the one
// single-threaded apartment, every other thread is in the free one.
HRESULT CoInitializeEx(void* /*reserved*/, DWORD /*flags*/) {
    return S_OK;
}
void CoUninitialize() {}

namespace {

using stubframework::platform::Event;

// Runs `call` on the window thread and waits for it; the caller's
// arguments stay valid because it waits. Dropped work reports
// RPC_E_DISCONNECTED.
HRESULT CallOnWindowThread(const std::function<HRESULT()>& call) {
    if (stubframework::platform::IsWindowThread()) {
        return call();
    }
    struct Pending {
        Event done{true};
        HRESULT result = RPC_E_DISCONNECTED;
        std::atomic<bool> finished{false};
    };
    auto pending = std::make_shared<Pending>();
    // The task holds only the shared state; `call` is reached while we wait.
    const bool posted = stubframework::platform::PostToWindowThread([pending, &call] {
        pending->result = call();
        pending->finished = true;
        pending->done.Set();
    });
    if (!posted) {
        return RPC_E_DISCONNECTED;
    }
    // A closed window thread drops the task without running it.
    while (!pending->done.Wait(20)) {
        if (!stubframework::platform::IsWindowThreadOpen()) {
            return pending->finished ? pending->result : RPC_E_DISCONNECTED;
        }
    }
    return pending->result;
}

// Releases the reference it holds when it goes away.
class ReleaseOnDestruction {
public:
    explicit ReleaseOnDestruction(IUnknown* object) : object_(object) {}
    ~ReleaseOnDestruction() { object_->Release(); }
    ReleaseOnDestruction(const ReleaseOnDestruction&) = delete;
    ReleaseOnDestruction& operator=(const ReleaseOnDestruction&) = delete;

private:
    IUnknown* object_;
};

// The other threads' view of an IDispatch that lives on the window thread.
class DispatchProxy final : public IDispatch {
public:
    explicit DispatchProxy(IDispatch* target) : target_(target) {}

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            AddRef();
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG AddRef() override { return ++references_; }

    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            // The object belongs to the window thread. The reference goes
            // there, or, when the window thread closes before it runs the
            // release (or is closed already), wherever that happens: nothing
            // else runs on it then.
            auto release = std::make_shared<ReleaseOnDestruction>(target_);
            stubframework::platform::PostToWindowThread([release]() mutable { release.reset(); });
            delete this;
        }
        return left;
    }

    HRESULT GetTypeInfoCount(UINT* count) override {
        return CallOnWindowThread([&] { return target_->GetTypeInfoCount(count); });
    }

    HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return CallOnWindowThread([&] { return target_->GetTypeInfo(index, locale, info); });
    }

    HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                          DISPID* ids) override {
        return CallOnWindowThread(
            [&] { return target_->GetIDsOfNames(riid, names, count, locale, ids); });
    }

    HRESULT Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
        return CallOnWindowThread([&] {
            return target_->Invoke(id, riid, locale, flags, params, result, exception,
                                   argumentError);
        });
    }

private:
    ~DispatchProxy() = default;

    std::atomic<ULONG> references_{1};
    IDispatch* const target_;
};

class MarshalStream final : public IStream {
public:
    MarshalStream(IDispatch* object, bool fromWindowThread)
        : object_(object), fromWindowThread_(fromWindowThread) {
        object_->AddRef();
    }

    HRESULT QueryInterface(REFIID /*riid*/, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            if (object_ != nullptr) {
                object_->Release();
            }
            delete this;
        }
        return left;
    }

    // Hands out the marshalled reference, wrapped when it crosses apartments.
    IDispatch* Unmarshal() {
        IDispatch* object = object_;
        object_ = nullptr;
        if (fromWindowThread_ && !stubframework::platform::IsWindowThread()) {
            return new DispatchProxy(object);  // takes over our reference
        }
        return object;
    }

private:
    ~MarshalStream() = default;

    std::atomic<ULONG> references_{1};
    IDispatch* object_;
    const bool fromWindowThread_;
};

}  // namespace

HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, IUnknown* object, IStream** stream) {
    if (object == nullptr || stream == nullptr) {
        return E_INVALIDARG;
    }
    *stream = nullptr;
    if (!(riid == IID_IDispatch)) {
        return E_NOINTERFACE;
    }
    IDispatch* dispatch = nullptr;
    const HRESULT hr = object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr)) {
        return hr;
    }
    *stream = new MarshalStream(dispatch, stubframework::platform::IsWindowThread());
    dispatch->Release();
    return S_OK;
}

HRESULT CoGetInterfaceAndReleaseStream(IStream* stream, REFIID riid, void** object) {
    if (stream == nullptr || object == nullptr) {
        return E_INVALIDARG;
    }
    *object = nullptr;
    auto* marshalled = static_cast<MarshalStream*>(stream);
    HRESULT hr = E_NOINTERFACE;
    if (riid == IID_IDispatch || riid == IID_IUnknown) {
        *object = marshalled->Unmarshal();
        hr = *object != nullptr ? S_OK : E_UNEXPECTED;
    }
    marshalled->Release();
    return hr;
}

namespace stubframework::platform::com {

BSTR AllocString(std::string_view utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

std::string ToUtf8(BSTR text) {
    return text == nullptr ? std::string()
                           : Utf16ToUtf8(std::u16string_view(text, SysStringLen(text)));
}

}  // namespace stubframework::platform::com
