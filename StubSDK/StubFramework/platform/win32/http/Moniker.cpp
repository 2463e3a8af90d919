// The URL-moniker download: urlmon pulls the body and hands it over through
// an IBindStatusCallback on the calling thread, whose messages we pump
// while it runs.
#include "platform/http.h"

#include "platform/win32/Win32.h"
// After windows.h, which they need.
#include <objbase.h>
#include <urlmon.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/unicode.h"

namespace stubframework::platform::http {
namespace {

constexpr DWORD kLookMs = 100;           // how often a stop request is looked at
constexpr ULONGLONG kConnectMs = 60000;  // silence allowed before the body
constexpr ULONGLONG kStallMs = 30000;    // and while it comes
constexpr ULONGLONG kAbortGraceMs = 5000;
constexpr ULONG kPieceSize = 8192;

// Joins the calling thread to a single-threaded apartment for the time of
// the download, unless it already is in one.
class Apartment {
public:
    Apartment() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~Apartment() {
        if (SUCCEEDED(result_)) {
            CoUninitialize();
        }
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

    // The thread belongs to the multithreaded apartment already.
    bool Multithreaded() const { return result_ == RPC_E_CHANGED_MODE; }

private:
    const HRESULT result_;
};

class Binder final : public IBindStatusCallback, public IHttpNegotiate {
public:
    explicit Binder(PullEvents& events) : events_(&events), lastHeard_(GetTickCount64()) {}
    Binder(const Binder&) = delete;
    Binder& operator=(const Binder&) = delete;

    // Runs the calling thread's messages until the binding has stopped.
    HRESULT Pump();
    // No event reaches the caller after this.
    void Detach() { events_ = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
            *object = static_cast<IBindStatusCallback*>(this);
        } else if (riid == IID_IHttpNegotiate) {
            *object = static_cast<IHttpNegotiate*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override {
        Heard();
        if (binding_ == nullptr && binding != nullptr) {
            binding->AddRef();
            binding_ = binding;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG max, ULONG status, LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                   LPWSTR* additional) override {
        *additional = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* additional) override;

private:
    ~Binder() { ReleaseBinding(); }

    bool Failed() const { return result_ != E_PENDING && result_ != S_OK; }
    // Keeps the first failure; the pump aborts the binding.
    void Fail(HRESULT result) {
        if (!Failed()) {
            result_ = result;
        }
    }
    void Heard() { lastHeard_ = GetTickCount64(); }
    void Begin();
    bool Deliver(const std::uint8_t* data, ULONG size);
    void ReleaseBinding() {
        if (IBinding* const binding = binding_) {
            binding_ = nullptr;
            binding->Release();
        }
    }

    std::atomic<ULONG> references_{1};
    PullEvents* events_;  // null once PullUrl has returned
    IBinding* binding_ = nullptr;
    HRESULT result_ = E_PENDING;
    bool stopped_ = false;
    bool begun_ = false;
    std::uint64_t progress_ = 0;
    std::uint64_t max_ = 0;
    ULONGLONG lastHeard_;
};

HRESULT Binder::OnResponse(DWORD code, LPCWSTR, LPCWSTR, LPWSTR* additional) {
    Heard();
    if (additional != nullptr) {
        *additional = nullptr;
    }
    // The body of an error answer is not the resource.
    if (code < 200 || code >= 300) {
        Fail(code == 404 || code == 410 ? INET_E_OBJECT_NOT_FOUND : INET_E_DOWNLOAD_FAILURE);
    }
    return S_OK;
}

HRESULT Binder::OnProgress(ULONG, ULONG max, ULONG status, LPCWSTR) {
    Heard();
    if (events_ == nullptr || Failed()) {
        return E_ABORT;
    }
    if (status == BINDSTATUS_BEGINDOWNLOADDATA) {
        max_ = max;
        Begin();
    }
    return Failed() ? E_ABORT : S_OK;
}

void Binder::Begin() {
    if (std::exchange(begun_, true)) {
        return;
    }
    if (const std::int32_t result = events_->OnProgress(0, max_, BindStatus::kBeginDownloadData);
        result < 0) {
        Fail(result);
    }
}

bool Binder::Deliver(const std::uint8_t* data, ULONG size) {
    if (const std::int32_t result = events_->OnData(data, size); result < 0) {
        Fail(result);
        return false;
    }
    progress_ += size;
    if (const std::int32_t result =
            events_->OnProgress(progress_, max_, BindStatus::kDownloadingData);
        result < 0) {
        Fail(result);
        return false;
    }
    return true;
}

HRESULT Binder::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) {
    Heard();
    if (events_ == nullptr || Failed()) {
        return E_ABORT;
    }
    Begin();
    if (Failed() || medium == nullptr || medium->tymed != TYMED_ISTREAM ||
        medium->pstm == nullptr) {
        return Failed() ? E_ABORT : S_OK;
    }
    // Everything there is now: urlmon tells again only once it was read.
    std::uint8_t piece[kPieceSize];
    for (;;) {
        ULONG read = 0;
        const HRESULT hr = medium->pstm->Read(piece, kPieceSize, &read);
        if (read > 0 && !Deliver(piece, read)) {
            return E_ABORT;
        }
        if (hr == E_PENDING || hr == S_FALSE || (hr == S_OK && read == 0)) {
            return S_OK;
        }
        if (FAILED(hr)) {
            return hr;
        }
    }
}

HRESULT Binder::OnStopBinding(HRESULT result, LPCWSTR) {
    Heard();
    stopped_ = true;
    ReleaseBinding();
    if (events_ == nullptr || Failed()) {
        return S_OK;
    }
    if (FAILED(result)) {
        Fail(result);
        return S_OK;
    }
    Begin();
    if (!Failed()) {
        result_ =
            events_->OnProgress(progress_, max_, BindStatus::kEndDownloadData) < 0 ? E_ABORT : S_OK;
    }
    return S_OK;
}

HRESULT Binder::GetBindInfo(DWORD* flags, BINDINFO* info) {
    // Straight from the server, handed over as it arrives.
    *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_GETNEWESTVERSION |
             BINDF_NOWRITECACHE;
    const ULONG size = info->cbSize;
    std::memset(info, 0, size);
    info->cbSize = size;
    info->dwBindVerb = BINDVERB_GET;
    return S_OK;
}

HRESULT Binder::Pump() {
    ULONGLONG abortedAt = 0;
    while (!stopped_) {
        MsgWaitForMultipleObjectsEx(0, nullptr, kLookMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // Meant for the thread's own loop: put it back and stop.
                PostQuitMessage(static_cast<int>(message.wParam));
                Fail(E_ABORT);
                if (binding_ != nullptr) {
                    binding_->Abort();
                }
                return result_;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const ULONGLONG now = GetTickCount64();
        if (!Failed() && events_->Stopped()) {
            Fail(E_ABORT);
        }
        if (!Failed() && now - lastHeard_ > (begun_ ? kStallMs : kConnectMs)) {
            Fail(INET_E_CONNECTION_TIMEOUT);
        }
        if (Failed() && abortedAt == 0) {
            abortedAt = now;
            if (binding_ != nullptr) {
                binding_->Abort();
            }
        } else if (Failed() && now - abortedAt > kAbortGraceMs) {
            break;  // the binding never confirmed its end
        }
    }
    return result_;
}

}  // namespace

std::int32_t PullUrl(const std::string& url, PullEvents& events) {
    const Apartment apartment;
    if (apartment.Multithreaded()) {
        // The binding's callbacks would come on any thread there: it runs on
        // a thread of its own while this one waits.
        std::int32_t result = E_FAIL;
        std::thread([&] { result = PullUrl(url, events); }).join();
        return result;
    }
    const std::u16string wide = Utf8ToUtf16(url);
    // Reference-counted: urlmon may hold it after we return.
    Binder* const binder = new Binder(events);
    // What URLOpenPullStream sets up, which not every system provides: an
    // asynchronous binding of the URL's moniker to a stream.
    IMoniker* moniker = nullptr;
    IBindCtx* context = nullptr;
    HRESULT result = CreateURLMonikerEx(nullptr, reinterpret_cast<const wchar_t*>(wide.c_str()),
                                        &moniker, URL_MK_UNIFORM);
    if (SUCCEEDED(result)) {
        result = CreateAsyncBindCtx(0, binder, nullptr, &context);
    }
    if (SUCCEEDED(result)) {
        IUnknown* stream = nullptr;
        result = moniker->BindToStorage(context, nullptr, IID_IStream,
                                        reinterpret_cast<void**>(&stream));
        if (stream != nullptr) {
            stream->Release();  // the data comes through OnDataAvailable
        }
    }
    if (SUCCEEDED(result)) {
        result = binder->Pump();
    }
    if (context != nullptr) {
        context->Release();
    }
    if (moniker != nullptr) {
        moniker->Release();
    }
    binder->Detach();
    binder->Release();
    return result;
}

}  // namespace stubframework::platform::http
