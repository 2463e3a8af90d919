// HTTP requests over one libcurl multi handle driven by an engine thread.
// Requests, and closes, reach the thread through a queue; everything that
// touches the multi handle runs on it.
#include "platform/http.h"

#include "platform/posix/http/Curl.h"
#include "platform/posix/http/ResponseReader.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

namespace stubframework::platform::http {
namespace {

std::atomic<std::uint32_t> connectTimeoutMs{60000};
std::atomic<std::uint32_t> stallTimeoutMs{30000};

std::uint32_t ErrorFromCurl(CURLcode code) {
    switch (code) {
        case CURLE_OK:
        case CURLE_PARTIAL_FILE:  // the server closed early: the body simply ends
            return 0;
        case CURLE_OPERATION_TIMEDOUT:
            return kErrorTimeout;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kErrorNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kErrorCannotConnect;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return kErrorConnectionAborted;
        case CURLE_GOT_NOTHING:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
            return kErrorInvalidServerResponse;
        case CURLE_WRITE_ERROR:
        case CURLE_ABORTED_BY_CALLBACK:
            return kErrorCancelled;
        case CURLE_OUT_OF_MEMORY:
            return 8;  // ERROR_NOT_ENOUGH_MEMORY
        case CURLE_PEER_FAILED_VERIFICATION:
            return kErrorInvalidCa;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return kErrorSecureChannel;
        case CURLE_TOO_MANY_REDIRECTS:
            return kErrorRedirectFailed;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return kErrorInvalidUrl;
        default:
            return kErrorInternal;
    }
}

}  // namespace

void InitCurl() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)initialised;
}

std::string UrlForCurl(const std::string& url) {
    std::string encoded;
    encoded.reserve(url.size());
    for (const char c : url) {
        encoded += c == ' ' ? std::string("%20") : std::string(1, c);
    }
    return encoded;
}

std::optional<std::string> Response::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

class Request {
public:
    Request(RequestEvents* events, std::string host) : events_(events), host_(std::move(host)) {}
    ~Request() {
        curl_easy_cleanup(easy_);
        curl_slist_free_all(headers_);
    }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    bool Configure(const RequestSettings& settings);
    CURL* Easy() const { return easy_; }
    RequestEvents* Events() const { return events_; }
    const std::string& Host() const { return host_; }
    bool Closing() const { return closing_.load(std::memory_order_acquire); }
    void MarkClosing() { closing_.store(true, std::memory_order_release); }
    bool added = false;

    // Reports the end of the transfer once, unless the request is closing.
    void End(std::uint32_t error, const std::string& refused = {}) {
        if (ended_ || Closing()) {
            return;
        }
        ended_ = true;
        events_->OnTransferEnd(error, refused);
    }

    // The end of libcurl's transfer. A header line longer than libcurl keeps
    // ends it as if memory were short: that is the server's fault, as a
    // browser would call it.
    void Finished(CURLcode code) {
        if (code == CURLE_OUT_OF_MEMORY && !reader_.Done()) {
            const auto& headers = reader_.Current().headers;
            End(kErrorInvalidServerResponse,
                "A header line after " +
                    (headers.empty() ? std::string("the status line")
                                     : "the header " + headers.back().first) +
                    " is longer than " + std::to_string(CURL_MAX_HTTP_HEADER) + " bytes");
            return;
        }
        End(ErrorFromCurl(code));
    }

private:
    static std::size_t OnHeaderLine(char* line, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBodyData(char* data, std::size_t size, std::size_t count, void* self);
    static curl_socket_t OnOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
    static int OnPrerequest(void* self, char* serverIp, char* localIp, int serverPort,
                            int localPort);

    std::size_t HeaderLine(const char* line, std::size_t length);

    CURL* easy_ = nullptr;
    curl_slist* headers_ = nullptr;
    RequestEvents* const events_;
    const std::string host_;
    std::atomic<bool> closing_{false};
    bool ended_ = false;
    bool socketOpened_ = false;
    ResponseReader reader_;
};

bool Request::Configure(const RequestSettings& settings) {
    easy_ = curl_easy_init();
    if (easy_ == nullptr) {
        return false;
    }
    for (const std::string& header : settings.headers) {
        headers_ = curl_slist_append(headers_, header.c_str());
    }
    // Always from the server, never from a cache on the way.
    headers_ = curl_slist_append(headers_, "Cache-Control: no-cache");
    headers_ = curl_slist_append(headers_, "Pragma: no-cache");
    if (headers_ == nullptr) {
        return false;
    }
    const std::uint32_t stallMs = stallTimeoutMs.load();
    bool ok = curl_easy_setopt(easy_, CURLOPT_URL, UrlForCurl(settings.url).c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, 10L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_USERAGENT, settings.userAgent.c_str()) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS,
                                static_cast<long>(connectTimeoutMs.load())) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_LOW_SPEED_TIME,
                                static_cast<long>(stallMs < 1000 ? 1 : stallMs / 1000)) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, 262144L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_PRIVATE, this) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Request::OnHeaderLine) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Request::OnBodyData) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this) == CURLE_OK;
    ok = ok &&
         curl_easy_setopt(easy_, CURLOPT_OPENSOCKETFUNCTION, &Request::OnOpenSocket) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_OPENSOCKETDATA, this) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &Request::OnPrerequest) == CURLE_OK;
    ok = ok && curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this) == CURLE_OK;
    // A test or private release server may bring its own certificate authority.
    if (const char* bundle = std::getenv("STUB_CA_BUNDLE"); ok && bundle != nullptr && *bundle) {
        ok = curl_easy_setopt(easy_, CURLOPT_CAINFO, bundle) == CURLE_OK;
    }
    return ok;
}

std::size_t Request::OnHeaderLine(char* line, std::size_t size, std::size_t count, void* self) {
    return static_cast<Request*>(self)->HeaderLine(line, size * count);
}

std::size_t Request::HeaderLine(const char* line, std::size_t length) {
    if (Closing()) {
        return 0;  // stops the transfer
    }
    switch (reader_.Read(std::string_view(line, length))) {
        case ResponseReader::Step::kNone:
            break;
        case ResponseReader::Step::kIntermediate:
            events_->OnConnectionStatus(ConnectionStatus::kIntermediateResponse, {});
            break;
        case ResponseReader::Step::kRedirect:
            events_->OnConnectionStatus(ConnectionStatus::kRedirect,
                                        reader_.Current().Header("Location").value_or(""));
            break;
        case ResponseReader::Step::kFinal:
            events_->OnResponse(reader_.Current());
            break;
    }
    return length;
}

std::size_t Request::OnBodyData(char* data, std::size_t size, std::size_t count, void* self) {
    auto* request = static_cast<Request*>(self);
    const std::size_t length = size * count;
    if (request->Closing()) {
        return 0;
    }
    if (!request->reader_.Done()) {
        return length;  // the body of a redirect being followed
    }
    return request->events_->OnBody(reinterpret_cast<const std::uint8_t*>(data), length) ? length
                                                                                         : 0;
}

curl_socket_t Request::OnOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
    auto* request = static_cast<Request*>(self);
    char text[INET6_ADDRSTRLEN] = "";
    const void* raw = nullptr;
    if (address->family == AF_INET) {
        raw = &reinterpret_cast<const sockaddr_in*>(&address->addr)->sin_addr;
    } else if (address->family == AF_INET6) {
        raw = &reinterpret_cast<const sockaddr_in6*>(&address->addr)->sin6_addr;
    }
    if (raw != nullptr) {
        inet_ntop(address->family, raw, text, sizeof text);
    }
    if (!request->Closing()) {
        request->events_->OnConnectionStatus(ConnectionStatus::kNameResolved, text);
        request->events_->OnConnectionStatus(ConnectionStatus::kConnectingToServer, text);
    }
    request->socketOpened_ = true;
    // Child processes must never inherit a transfer's socket.
    const int fd = socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    return fd < 0 ? CURL_SOCKET_BAD : fd;
}

int Request::OnPrerequest(void* self, char* serverIp, char*, int, int) {
    auto* request = static_cast<Request*>(self);
    if (request->socketOpened_ && !request->Closing()) {
        request->events_->OnConnectionStatus(ConnectionStatus::kConnectedToServer, serverIp);
    }
    request->socketOpened_ = false;
    return CURL_PREREQFUNC_OK;
}

namespace {

// The one engine thread. It lives until the process ends: a request may be
// closed from any thread at any time, also while statics are torn down.
class Engine {
public:
    static Engine& Get() {
        static Engine* const engine = new Engine();  // never destroyed, see above
        return *engine;
    }

    void Post(Request* request, bool send) {
        {
            const std::lock_guard<std::mutex> guard(lock_);
            queue_.push_back({request, send});
        }
        curl_multi_wakeup(multi_);
    }

private:
    struct Operation {
        Request* request;
        bool send;
    };

    Engine() {
        InitCurl();
        multi_ = curl_multi_init();
        thread_ = std::thread([this] { Run(); });
        thread_.detach();
    }

    void Run() {
        for (;;) {
            std::vector<Operation> operations;
            {
                const std::lock_guard<std::mutex> guard(lock_);
                operations.swap(queue_);
            }
            for (const Operation& operation : operations) {
                operation.send ? Add(operation.request) : Close(operation.request);
            }
            int running = 0;
            curl_multi_perform(multi_, &running);
            int left = 0;
            while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
                if (message->msg != CURLMSG_DONE) {
                    continue;
                }
                Request* request = nullptr;
                curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &request);
                request->Finished(message->data.result);
            }
            curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
        }
    }

    void Add(Request* request) {
        if (request->Closing()) {
            return;  // its close is already queued behind this
        }
        if (curl_multi_add_handle(multi_, request->Easy()) != CURLM_OK) {
            request->End(kErrorInternal);
            return;
        }
        request->added = true;
        request->Events()->OnConnectionStatus(ConnectionStatus::kResolvingName, request->Host());
    }

    void Close(Request* request) {
        if (request->added) {
            curl_multi_remove_handle(multi_, request->Easy());
        }
        RequestEvents* const events = request->Events();
        delete request;
        events->OnClosed();
    }

    CURLM* multi_ = nullptr;
    std::mutex lock_;
    std::vector<Operation> queue_;
    std::thread thread_;
};

}  // namespace

std::uint32_t CrackUrl(const std::string& url, UrlParts& parts) {
    InitCurl();
    const std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> handle(curl_url(), &curl_url_cleanup);
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(),
                                CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return kErrorInvalidUrl;
    }
    const auto part = [&](CURLUPart which, std::string& out, unsigned flags = 0) {
        char* value = nullptr;
        if (curl_url_get(handle.get(), which, &value, flags) == CURLUE_OK && value != nullptr) {
            out = value;
        }
        curl_free(value);
    };
    parts = UrlParts{};
    std::string port;
    std::string query;
    part(CURLUPART_SCHEME, parts.scheme);
    part(CURLUPART_HOST, parts.host);
    part(CURLUPART_PORT, port, CURLU_DEFAULT_PORT);
    part(CURLUPART_USER, parts.user);
    part(CURLUPART_PASSWORD, parts.password);
    part(CURLUPART_PATH, parts.object);
    part(CURLUPART_QUERY, query);
    if (!query.empty()) {
        parts.object += "?" + query;
    }
    parts.port = static_cast<std::uint16_t>(std::strtoul(port.c_str(), nullptr, 10));
    return parts.host.empty() ? kErrorInvalidUrl : 0;
}

std::string BrowserUserAgent() {
    return "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko) "
           "Version/17.0 Safari/605.1.15";
}

Request* OpenRequest(const RequestSettings& settings, RequestEvents* events, std::uint32_t& error) {
    InitCurl();
    UrlParts parts;
    error = CrackUrl(settings.url, parts);
    if (error != 0) {
        return nullptr;
    }
    auto request = std::make_unique<Request>(events, parts.host);
    if (!request->Configure(settings)) {
        error = 8;  // ERROR_NOT_ENOUGH_MEMORY
        return nullptr;
    }
    return request.release();
}

void SendRequest(Request* request) {
    Engine::Get().Post(request, true);
}

void CloseRequest(Request* request) {
    request->MarkClosing();
    Engine::Get().Post(request, false);
}

void SetTimeouts(std::uint32_t connectMs, std::uint32_t stallMs) {
    connectTimeoutMs = connectMs;
    stallTimeoutMs = stallMs;
}

}  // namespace stubframework::platform::http
