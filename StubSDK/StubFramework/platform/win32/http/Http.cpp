// HTTP requests over asynchronous WinINet. WinINet's status callbacks run
// on its own threads; they only queue what happened for the engine thread,
// which makes every WinINet call of a request and delivers every event, so
// a request's state has one owner and its events never overlap.
#include "platform/http.h"

#include "platform/win32/http/WinInet.h"
// After windows.h, which it needs.
#include <urlmon.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/unicode.h"

namespace stubframework::platform::http {
namespace {

std::atomic<std::uint32_t> connectTimeoutMs{60000};
std::atomic<std::uint32_t> stallTimeoutMs{30000};

constexpr std::size_t kReadSize = 65536;

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string Part(const wchar_t* text, DWORD length) {
    return text == nullptr
               ? std::string()
               : Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

// The request path as sent: blanks (such as a blank-padded timestamp) are
// percent-encoded, the way a browser sends them.
std::string EncodeBlanks(const std::string& text) {
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        encoded += c == ' ' ? std::string("%20") : std::string(1, c);
    }
    return encoded;
}

}  // namespace

std::optional<std::string> Response::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (EqualNoCase(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

std::uint32_t CrackUrl(const std::string& url, UrlParts& parts) {
    const std::u16string wide = wininet::Wide(url);
    URL_COMPONENTSW components{};
    components.dwStructSize = sizeof components;
    // Non-zero lengths without buffers: the parts point into the URL.
    components.dwSchemeLength = 1;
    components.dwHostNameLength = 1;
    components.dwUserNameLength = 1;
    components.dwPasswordLength = 1;
    components.dwUrlPathLength = 1;
    components.dwExtraInfoLength = 1;
    if (wide.empty() || !InternetCrackUrlW(wininet::WideChars(wide),
                                           static_cast<DWORD>(wide.size()), 0, &components)) {
        return kErrorInvalidUrl;
    }
    parts = UrlParts{};
    for (const char c : Part(components.lpszScheme, components.dwSchemeLength)) {
        parts.scheme += LowerAscii(c);
    }
    parts.host = Part(components.lpszHostName, components.dwHostNameLength);
    parts.port = components.nPort;
    parts.user = Part(components.lpszUserName, components.dwUserNameLength);
    parts.password = Part(components.lpszPassword, components.dwPasswordLength);
    // The path runs on to the end, query included; a fragment never goes to
    // the server.
    std::string object = Part(components.lpszUrlPath, components.dwUrlPathLength) +
                         Part(components.lpszExtraInfo, components.dwExtraInfoLength);
    object = object.substr(0, object.find('#'));
    if (object.empty() || object.front() != '/') {
        object.insert(0, "/");
    }
    parts.object = EncodeBlanks(object);
    return parts.host.empty() ? kErrorInvalidUrl : 0;
}

std::string BrowserUserAgent() {
    std::string agent(256, '\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(agent.size());
        const HRESULT hr = ObtainUserAgentString(0, agent.data(), &size);
        if (hr == E_OUTOFMEMORY && size > agent.size()) {
            agent.resize(size);
            continue;
        }
        if (FAILED(hr)) {
            return "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1)";
        }
        return agent.substr(0, agent.find('\0'));
    }
}

class Request {
public:
    explicit Request(RequestEvents* events) : events_(events), buffer_(kReadSize) {}
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    std::uint32_t Open(const RequestSettings& settings);

    // Engine thread only.
    void Send();
    void Complete(DWORD result, DWORD error);
    void Continue();
    void Status(ConnectionStatus status, const std::string& info);
    // Returns whether the request may be deleted now.
    bool Close();
    bool HandleClosed();

    void MarkClosing() { closing_.store(true, std::memory_order_release); }

private:
    enum class Phase { kIdle, kSending, kReading, kEnded };

    static void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status,
                                  void* information, DWORD length);

    bool Active() const { return !closed_ && phase_ != Phase::kEnded && !Closing(); }
    bool Closing() const { return closing_.load(std::memory_order_acquire); }
    void Sent();
    void Read();
    void Received(DWORD count);
    void End(std::uint32_t error);

    RequestEvents* const events_;
    wininet::Handles handles_;
    std::atomic<bool> closing_{false};
    Phase phase_ = Phase::kIdle;
    bool closed_ = false;        // OnClosed delivered
    bool handleClosed_ = false;  // WinINet is done with the request
    // Written by WinINet when a pending read completes: kept until then.
    std::vector<std::uint8_t> buffer_;
    DWORD count_ = 0;
    bool reading_ = false;  // a read, not a query, is pending
    int redirects_ = 0;
};

namespace {

// The one engine thread. It lives until the process ends: a request may be
// closed from any thread at any time, also while statics are torn down.
class Engine {
public:
    enum class Kind { kSend, kClose, kComplete, kContinue, kStatus, kHandleClosed };
    struct Operation {
        Request* request = nullptr;
        Kind kind = Kind::kStatus;
        DWORD result = 0;
        DWORD error = 0;
        ConnectionStatus status = ConnectionStatus::kResolvingName;
        std::string info = {};
    };

    static Engine& Get() {
        static Engine* const engine = new Engine();  // never destroyed, see above
        return *engine;
    }

    void Post(Operation operation) {
        {
            const std::lock_guard<std::mutex> guard(lock_);
            queue_.push_back(std::move(operation));
        }
        wake_.notify_one();
    }

private:
    Engine() {
        std::thread([this] { Run(); }).detach();
    }

    void Run() {
        for (;;) {
            Operation operation = Next();
            Request* const request = operation.request;
            switch (operation.kind) {
                case Kind::kSend:
                    request->Send();
                    break;
                case Kind::kComplete:
                    request->Complete(operation.result, operation.error);
                    break;
                case Kind::kContinue:
                    request->Continue();
                    break;
                case Kind::kStatus:
                    request->Status(operation.status, operation.info);
                    break;
                case Kind::kClose:
                    if (request->Close()) {
                        delete request;
                    }
                    break;
                case Kind::kHandleClosed:
                    if (request->HandleClosed()) {
                        delete request;
                    }
                    break;
            }
        }
    }

    Operation Next() {
        std::unique_lock<std::mutex> guard(lock_);
        wake_.wait(guard, [this] { return !queue_.empty(); });
        Operation operation = std::move(queue_.front());
        queue_.pop_front();
        return operation;
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<Operation> queue_;
};

void Post(Request* request, Engine::Kind kind) {
    Engine::Get().Post({request, kind});
}

}  // namespace

std::uint32_t Request::Open(const RequestSettings& settings) {
    wininet::OpenSettings open;
    open.url = settings.url;
    open.userAgent = settings.userAgent;
    open.connectTimeoutMs = connectTimeoutMs.load();
    open.stallTimeoutMs = stallTimeoutMs.load();
    open.context = this;
    open.callback = &Request::OnStatus;
    if (const std::uint32_t error = wininet::OpenHandles(open, handles_); error != 0) {
        return error;
    }
    const std::uint32_t error = wininet::AddHeaders(handles_.request.Get(), settings.headers);
    if (error != 0) {
        // The request goes with this object: no closing notice may reach it.
        InternetSetStatusCallbackW(handles_.request.Get(), nullptr);
        handles_.Close();
    }
    return error;
}

// WinINet's threads: queue what the engine needs, nothing more.
void CALLBACK Request::OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* information,
                                DWORD length) {
    auto* const request = reinterpret_cast<Request*>(context);
    Engine::Operation operation{request, Engine::Kind::kStatus};
    switch (status) {
        case INTERNET_STATUS_RESOLVING_NAME:
            operation.status = ConnectionStatus::kResolvingName;
            break;
        case INTERNET_STATUS_NAME_RESOLVED:
            operation.status = ConnectionStatus::kNameResolved;
            break;
        case INTERNET_STATUS_CONNECTING_TO_SERVER:
            operation.status = ConnectionStatus::kConnectingToServer;
            break;
        case INTERNET_STATUS_CONNECTED_TO_SERVER:
            operation.status = ConnectionStatus::kConnectedToServer;
            break;
        case INTERNET_STATUS_REDIRECT:
            operation.status = ConnectionStatus::kRedirect;
            break;
        case INTERNET_STATUS_INTERMEDIATE_RESPONSE:
            operation.status = ConnectionStatus::kIntermediateResponse;
            break;
        case INTERNET_STATUS_REQUEST_COMPLETE: {
            const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(information);
            operation.kind = Engine::Kind::kComplete;
            operation.result = result->dwResult != 0 ? 1 : 0;  // may be a handle
            operation.error = result->dwError;
            Engine::Get().Post(std::move(operation));
            return;
        }
        case INTERNET_STATUS_HANDLE_CLOSING:
            Post(request, Engine::Kind::kHandleClosed);
            return;
        default:
            return;
    }
    if (status != INTERNET_STATUS_INTERMEDIATE_RESPONSE) {
        operation.info = wininet::StatusText(information, length);
    }
    Engine::Get().Post(std::move(operation));
}

void Request::Send() {
    if (!Active() || phase_ != Phase::kIdle) {
        return;
    }
    phase_ = Phase::kSending;
    if (HttpSendRequestW(handles_.request.Get(), nullptr, 0, nullptr, 0)) {
        Sent();
        return;
    }
    if (const DWORD error = GetLastError(); error != ERROR_IO_PENDING) {
        End(wininet::TransferError(error));
    }
}

void Request::Complete(DWORD result, DWORD error) {
    if (!Active()) {
        return;
    }
    if (result == 0) {
        End(wininet::TransferError(error));
        return;
    }
    if (phase_ == Phase::kSending) {
        Sent();
    } else if (std::exchange(reading_, false)) {
        Received(count_);
    } else {
        Read();  // data has arrived
    }
}

void Request::Continue() {
    if (Active()) {
        Read();
    }
}

void Request::Status(ConnectionStatus status, const std::string& info) {
    if (!Active()) {
        return;
    }
    events_->OnConnectionStatus(status, info);
    if (status == ConnectionStatus::kRedirect && ++redirects_ > wininet::kMaxRedirects) {
        End(kErrorRedirectFailed);
    }
}

void Request::Sent() {
    phase_ = Phase::kReading;
    events_->OnResponse(wininet::ReadResponse(handles_.request.Get()));
    if (Active()) {
        Read();
    }
}

// Asks what has arrived, then reads exactly that: a read of more would wait
// for the rest and hold back what is there.
void Request::Read() {
    DWORD available = 0;
    if (!InternetQueryDataAvailable(handles_.request.Get(), &available, 0, 0)) {
        if (const DWORD error = GetLastError(); error != ERROR_IO_PENDING) {
            End(wininet::TransferError(error));
        }
        return;  // the completion asks again
    }
    if (available == 0) {
        End(0);
        return;
    }
    count_ = 0;
    const DWORD wanted = std::min(available, static_cast<DWORD>(buffer_.size()));
    if (InternetReadFile(handles_.request.Get(), buffer_.data(), wanted, &count_)) {
        Received(count_);
        return;
    }
    if (const DWORD error = GetLastError(); error != ERROR_IO_PENDING) {
        End(wininet::TransferError(error));
    } else {
        reading_ = true;
    }
}

void Request::Received(DWORD count) {
    if (count == 0) {
        End(0);
        return;
    }
    if (!events_->OnBody(buffer_.data(), count)) {
        End(kErrorCancelled);
        return;
    }
    // The next piece after the other requests' turn.
    Post(this, Engine::Kind::kContinue);
}

void Request::End(std::uint32_t error) {
    if (!Active()) {
        return;
    }
    phase_ = Phase::kEnded;
    events_->OnTransferEnd(error, {});
}

bool Request::Close() {
    const bool hadHandle = static_cast<bool>(handles_.request);
    handles_.Close();
    closed_ = true;
    events_->OnClosed();
    // Without a request handle no closing notice will come.
    return handleClosed_ || !hadHandle;
}

bool Request::HandleClosed() {
    handleClosed_ = true;
    return closed_;
}

Request* OpenRequest(const RequestSettings& settings, RequestEvents* events, std::uint32_t& error) {
    auto request = std::make_unique<Request>(events);
    error = request->Open(settings);
    if (error != 0) {
        return nullptr;
    }
    return request.release();
}

void SendRequest(Request* request) {
    Post(request, Engine::Kind::kSend);
}

void CloseRequest(Request* request) {
    request->MarkClosing();
    Post(request, Engine::Kind::kClose);
}

void SetTimeouts(std::uint32_t connectMs, std::uint32_t stallMs) {
    connectTimeoutMs = connectMs;
    stallTimeoutMs = stallMs;
}

}  // namespace stubframework::platform::http
