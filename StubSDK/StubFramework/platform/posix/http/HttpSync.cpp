// Blocking transfers on the calling thread, each with its own libcurl easy
// handle: the URL-moniker download, the web-service senders, probes.
#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <memory>

#include "platform/http.h"
#include "platform/posix/http/Curl.h"
#include "platform/posix/http/ResponseReader.h"

namespace stubframework::platform::http {
namespace {

constexpr std::int32_t kAbort = static_cast<std::int32_t>(0x80004004);
constexpr std::int32_t kInvalidUrl = static_cast<std::int32_t>(0x800C0002);
constexpr std::int32_t kResourceNotFound = static_cast<std::int32_t>(0x800C0005);
constexpr std::int32_t kObjectNotFound = static_cast<std::int32_t>(0x800C0006);
constexpr std::int32_t kDownloadFailure = static_cast<std::int32_t>(0x800C0008);
constexpr std::int32_t kConnectionTimeout = static_cast<std::int32_t>(0x800C000B);

using Easy = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;
using Headers = std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)>;

Easy NewEasy() {
    InitCurl();
    return Easy(curl_easy_init(), &curl_easy_cleanup);
}

// The settings every synchronous transfer shares.
void CommonOptions(CURL* easy, const std::string& url, const std::string& userAgent) {
    curl_easy_setopt(easy, CURLOPT_URL, UrlForCurl(url).c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, 60L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!userAgent.empty()) {
        curl_easy_setopt(easy, CURLOPT_USERAGENT, userAgent.c_str());
    }
    if (const char* bundle = std::getenv("STUB_CA_BUNDLE"); bundle != nullptr && *bundle) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, bundle);
    }
}

class Puller {
public:
    explicit Puller(PullEvents& events) : events_(events) {}

    static std::size_t OnHeader(char* line, std::size_t size, std::size_t count, void* self) {
        auto* puller = static_cast<Puller*>(self);
        const std::size_t length = size * count;
        if (puller->reader_.Read(std::string_view(line, length)) != ResponseReader::Step::kFinal) {
            return length;
        }
        const Response& response = puller->reader_.Current();
        if (response.status < 200 || response.status >= 300) {
            puller->result_ = response.status == 404 || response.status == 410 ? kObjectNotFound
                                                                               : kDownloadFailure;
            return 0;
        }
        const std::string length_text = response.Header("Content-Length").value_or("");
        puller->max_ = std::strtoull(length_text.c_str(), nullptr, 10);
        return puller->Report(
                   puller->events_.OnProgress(0, puller->max_, BindStatus::kBeginDownloadData))
                   ? length
                   : 0;
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* puller = static_cast<Puller*>(self);
        const std::size_t length = size * count;
        if (!puller->reader_.Done()) {
            return length;  // a redirect's body
        }
        if (!puller->Report(
                puller->events_.OnData(reinterpret_cast<const std::uint8_t*>(data), length))) {
            return 0;
        }
        puller->progress_ += length;
        return puller->Report(puller->events_.OnProgress(puller->progress_, puller->max_,
                                                         BindStatus::kDownloadingData))
                   ? length
                   : 0;
    }

    // At least once a second, data or not.
    static int OnTick(void* self, curl_off_t /*downTotal*/, curl_off_t /*down*/,
                      curl_off_t /*upTotal*/, curl_off_t /*up*/) {
        auto* puller = static_cast<Puller*>(self);
        if (!puller->events_.Stopped()) {
            return 0;
        }
        puller->Report(kAbort);
        return 1;  // ends the transfer
    }

    std::int32_t Finish(CURLcode code) {
        if (result_ != 0) {
            return result_;
        }
        switch (code) {
            case CURLE_OK:
            case CURLE_PARTIAL_FILE:  // short: the caller compares with the announced size
                return events_.OnProgress(progress_, max_, BindStatus::kEndDownloadData) < 0
                           ? kAbort
                           : 0;
            case CURLE_COULDNT_RESOLVE_HOST:
            case CURLE_COULDNT_RESOLVE_PROXY:
            case CURLE_COULDNT_CONNECT:
                return kResourceNotFound;
            case CURLE_OPERATION_TIMEDOUT:
                return kConnectionTimeout;
            case CURLE_URL_MALFORMAT:
            case CURLE_UNSUPPORTED_PROTOCOL:
                return kInvalidUrl;
            default:
                return kDownloadFailure;
        }
    }

private:
    // Keeps the first failure an event returned; false stops the transfer.
    bool Report(std::int32_t result) {
        if (result < 0) {
            result_ = result;
            return false;
        }
        return true;
    }

    PullEvents& events_;
    ResponseReader reader_;
    std::uint64_t max_ = 0;
    std::uint64_t progress_ = 0;
    std::int32_t result_ = 0;
};

struct SyncState {
    const SyncRequest& request;
    SyncReply& reply;
    ResponseReader reader;

    static std::size_t OnHeader(char* line, std::size_t size, std::size_t count, void* self) {
        auto* state = static_cast<SyncState*>(self);
        const std::size_t length = size * count;
        state->reply.sent = true;  // an answer means the request went out
        if (state->request.read == SyncRequest::Read::kNothing) {
            return 0;
        }
        if (state->reader.Read(std::string_view(line, length)) == ResponseReader::Step::kFinal) {
            state->reply.status = state->reader.Current().status;
            if (state->request.read == SyncRequest::Read::kStatus) {
                state->reply.received = true;
                return 0;
            }
        }
        return length;
    }

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* state = static_cast<SyncState*>(self);
        const std::size_t length = size * count;
        if (!state->reader.Done()) {
            return length;
        }
        const std::size_t limit = state->request.maxBody;
        if (limit != 0 && length > limit - std::min(limit, state->reply.body.size())) {
            state->reply.body.clear();
            return 0;  // more than the caller will take
        }
        state->reply.body.insert(state->reply.body.end(), data, data + length);
        return length;
    }
};

std::uint32_t SyncError(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kErrorNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kErrorCannotConnect;
        case CURLE_OPERATION_TIMEDOUT:
            return kErrorTimeout;
        case CURLE_PEER_FAILED_VERIFICATION:
            return kErrorInvalidCa;
        case CURLE_SSL_CONNECT_ERROR:
            return kErrorSecureChannel;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return kErrorInvalidUrl;
        default:
            return kErrorConnectionAborted;
    }
}

}  // namespace

std::int32_t PullUrl(const std::string& url, PullEvents& events) {
    const Easy easy = NewEasy();
    if (!easy) {
        return static_cast<std::int32_t>(0x8007000E);
    }
    Puller puller(events);
    CommonOptions(easy.get(), url, BrowserUserAgent());
    curl_easy_setopt(easy.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_HEADERFUNCTION, &Puller::OnHeader);
    curl_easy_setopt(easy.get(), CURLOPT_HEADERDATA, &puller);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &Puller::OnBody);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &puller);
    curl_easy_setopt(easy.get(), CURLOPT_XFERINFOFUNCTION, &Puller::OnTick);
    curl_easy_setopt(easy.get(), CURLOPT_XFERINFODATA, &puller);
    curl_easy_setopt(easy.get(), CURLOPT_NOPROGRESS, 0L);
    return puller.Finish(curl_easy_perform(easy.get()));
}

SyncReply Perform(const SyncRequest& request) {
    SyncReply reply;
    const Easy easy = NewEasy();
    if (!easy) {
        reply.error = 8;  // ERROR_NOT_ENOUGH_MEMORY
        return reply;
    }
    SyncState state{request, reply, {}};
    CommonOptions(easy.get(), request.url, request.userAgent);
    if (request.connectTimeoutMs != 0) {
        curl_easy_setopt(easy.get(), CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(request.connectTimeoutMs));
    }
    if (request.totalTimeoutMs != 0) {
        curl_easy_setopt(easy.get(), CURLOPT_TIMEOUT_MS, static_cast<long>(request.totalTimeoutMs));
    }
    // Exactly the caller's headers: no content type or 100-continue of our own.
    Headers headers(curl_slist_append(nullptr, "Expect:"), &curl_slist_free_all);
    bool hasContentType = false;
    for (const std::string& header : request.headers) {
        headers.reset(curl_slist_append(headers.release(), header.c_str()));
        hasContentType = hasContentType || strncasecmp(header.c_str(), "content-type:", 13) == 0;
    }
    if (!hasContentType) {
        headers.reset(curl_slist_append(headers.release(), "Content-Type:"));
    }
    curl_easy_setopt(easy.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(easy.get(), CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
    if (request.verb != "GET") {
        curl_easy_setopt(easy.get(), CURLOPT_POST, 1L);
        curl_easy_setopt(
            easy.get(), CURLOPT_POSTFIELDS,
            request.body != nullptr ? reinterpret_cast<const char*>(request.body) : "");
        curl_easy_setopt(easy.get(), CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body != nullptr ? request.bodyLength : 0));
        if (request.verb != "POST") {
            curl_easy_setopt(easy.get(), CURLOPT_CUSTOMREQUEST, request.verb.c_str());
        }
    }
    curl_easy_setopt(easy.get(), CURLOPT_HEADERFUNCTION, &SyncState::OnHeader);
    curl_easy_setopt(easy.get(), CURLOPT_HEADERDATA, &state);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &SyncState::OnBody);
    curl_easy_setopt(easy.get(), CURLOPT_WRITEDATA, &state);
    const CURLcode code = curl_easy_perform(easy.get());
    if (code == CURLE_OK) {
        reply.sent = true;
        reply.received = true;
        return reply;
    }
    curl_off_t uploaded = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_SIZE_UPLOAD_T, &uploaded);
    long headerBytes = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_REQUEST_SIZE, &headerBytes);
    // The request may have gone out although no (or no whole) answer came.
    reply.sent = reply.sent || (headerBytes > 0 && static_cast<std::size_t>(uploaded) ==
                                                       (request.body ? request.bodyLength : 0));
    if (code != CURLE_WRITE_ERROR || !reply.sent) {
        // A header line longer than libcurl keeps reads as short memory.
        reply.error = code == CURLE_OUT_OF_MEMORY && !state.reader.Done()
                          ? kErrorInvalidServerResponse
                          : SyncError(code);
        reply.received = false;
    }
    return reply;
}

bool CheckConnection(const std::string& url) {
    const Easy easy = NewEasy();
    if (!easy) {
        return false;
    }
    CommonOptions(easy.get(), url, {});
    curl_easy_setopt(easy.get(), CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(easy.get(), CURLOPT_CONNECTTIMEOUT, 15L);
    return curl_easy_perform(easy.get()) == CURLE_OK;
}

}  // namespace stubframework::platform::http
