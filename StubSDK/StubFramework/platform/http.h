// Asynchronous HTTP(S) GET requests for the download engine. One engine
// thread runs every request and delivers its events; a request ends with
// exactly one OnClosed, after which it is gone. Errors are WinINet codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace stubframework::platform::http {

inline constexpr std::uint32_t kErrorTimeout = 12002;
inline constexpr std::uint32_t kErrorInternal = 12004;
inline constexpr std::uint32_t kErrorInvalidUrl = 12005;
inline constexpr std::uint32_t kErrorNameNotResolved = 12007;
inline constexpr std::uint32_t kErrorCancelled = 12017;
inline constexpr std::uint32_t kErrorCannotConnect = 12029;
inline constexpr std::uint32_t kErrorConnectionAborted = 12030;
inline constexpr std::uint32_t kErrorInvalidCa = 12045;
inline constexpr std::uint32_t kErrorHeaderNotFound = 12150;
inline constexpr std::uint32_t kErrorInvalidServerResponse = 12152;
inline constexpr std::uint32_t kErrorRedirectFailed = 12156;
inline constexpr std::uint32_t kErrorSecureChannel = 12157;

// The parts of a URL a request needs (InternetCrackUrl).
struct UrlParts {
    std::string scheme;  // lower case
    std::string host;
    std::uint16_t port = 0;
    std::string user;
    std::string password;
    std::string object;  // from the path to the end, query included
};
// kErrorSuccess-style 0, or kErrorInvalidUrl.
std::uint32_t CrackUrl(const std::string& url, UrlParts& parts);

// The user agent of the desktop's browser engine (ObtainUserAgentString).
std::string BrowserUserAgent();

// The final response's status line and headers, names as received.
struct Response {
    int status = -1;
    std::vector<std::pair<std::string, std::string>> headers;
    // The first header of that name (case-insensitive), as received.
    std::optional<std::string> Header(const std::string& name) const;
};

enum class ConnectionStatus {
    kResolvingName,
    kNameResolved,
    kConnectingToServer,
    kConnectedToServer,
    kRedirect,
    kIntermediateResponse,
};

// Events of one request, all on the engine thread, none after OnClosed.
class RequestEvents {
public:
    virtual void OnConnectionStatus(ConnectionStatus status, const std::string& info) = 0;
    // Once, when the final response's header has arrived.
    virtual void OnResponse(const Response& response) = 0;
    // Each piece of the body as it arrives; false stops the transfer.
    virtual bool OnBody(const std::uint8_t* data, std::size_t size) = 0;
    // The transfer ended: 0 when the body ended (it may be shorter than
    // announced when the server closed early), else the error, with what was
    // refused when the answer itself was (empty otherwise). At most once.
    virtual void OnTransferEnd(std::uint32_t error, const std::string& refused) = 0;
    // The request is closed; the last event.
    virtual void OnClosed() = 0;

protected:
    ~RequestEvents() = default;
};

struct RequestSettings {
    std::string url;
    std::string userAgent;
    std::vector<std::string> headers;  // "Name: value" lines added to the request
};

class Request;

// Prepares a GET request (no network yet). Null and the error when the
// request cannot be made.
Request* OpenRequest(const RequestSettings& settings, RequestEvents* events, std::uint32_t& error);
// Sends it; the events follow on the engine thread.
void SendRequest(Request* request);
// Closes it from any thread, once: no event but OnClosed follows, and that
// one always does, also for a request never sent.
void CloseRequest(Request* request);

// Connect and stall limits for new requests (60 s and 30 s by default).
void SetTimeouts(std::uint32_t connectMs, std::uint32_t stallMs);

// ---- Synchronous transfers on the calling thread ----

// Download progress states, numbered as the URL-moniker statuses.
enum class BindStatus : std::uint32_t {
    kBeginDownloadData = 4,  // the body starts; max is the announced size (0: unknown)
    kDownloadingData = 5,
    kEndDownloadData = 6,
};

// Receives a pulled download. A failure code from either call stops the
// transfer and becomes its result.
class PullEvents {
public:
    virtual std::int32_t OnProgress(std::uint64_t progress, std::uint64_t max,
                                    BindStatus status) = 0;
    virtual std::int32_t OnData(const std::uint8_t* data, std::size_t size) = 0;
    // Asked while the transfer waits for data too (a stalled server sends
    // none): true ends it as aborted.
    virtual bool Stopped() { return false; }

protected:
    ~PullEvents() = default;
};

// Downloads `url` (redirects followed) like a URL moniker: 0 when the body
// ended, also early (compare what arrived with the announced size), else a
// failure such as 0x800C0006 (not found), 0x800C0005 (server unreachable),
// 0x800C000B (time-out), 0x800C0008 (transfer failed), or the code an event
// returned.
std::int32_t PullUrl(const std::string& url, PullEvents& events);

struct SyncRequest {
    enum class Read {
        kNothing,  // send only: done once the request is out
        kStatus,   // up to the status line and headers
        kBody,     // the whole reply
    };
    std::string url;
    std::string verb = "GET";
    std::string userAgent;
    std::vector<std::string> headers;  // exactly these; no content type is added
    const std::uint8_t* body = nullptr;
    std::size_t bodyLength = 0;
    bool followRedirects = true;
    Read read = Read::kBody;
    std::size_t maxBody = 0;  // a longer body fails the request; 0 for no limit
    // 0 keeps the defaults: 60 s to connect, no limit on the whole request
    // (a stall of 30 s ends it).
    std::uint32_t connectTimeoutMs = 0;
    std::uint32_t totalTimeoutMs = 0;
};

struct SyncReply {
    bool sent = false;      // the whole request went out
    bool received = false;  // a reply was read as far as asked
    int status = -1;
    std::vector<std::uint8_t> body;
    std::uint32_t error = 0;  // WinINet code of a failure
};

// One blocking request.
SyncReply Perform(const SyncRequest& request);

// Whether a connection to the URL's host and port can be made now
// (InternetCheckConnection with a forced connection).
bool CheckConnection(const std::string& url);

}  // namespace stubframework::platform::http
