#include "telemetry/WebServiceClient.h"

#include <cstdlib>
#include <mutex>

#include "platform/http.h"

namespace stubframework::core {
namespace {

namespace http = platform::http;

constexpr const char* kDefaultWebServiceUrl = "https://webservice.brindlemark.invalid";

std::mutex hostLock;
std::string& Host() {
    static std::string host = kDefaultWebServiceUrl;
    return host;
}

// A URL the poster accepts: http or https, with a host and a path.
bool HasHostAndPath(const std::string& url) {
    http::UrlParts parts;
    if (http::CrackUrl(url, parts) != 0 || (parts.scheme != "http" && parts.scheme != "https")) {
        return false;
    }
    const std::size_t authority = url.find("://");
    return authority != std::string::npos && url.find('/', authority + 3) != std::string::npos;
}

std::string WidenBytes(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (const std::uint8_t byte : bytes) {
        if (byte < 0x80) {
            text += static_cast<char>(byte);
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

http::SyncRequest XmlRequest(const std::uint8_t* body, std::size_t length, const std::string& path,
                             const std::string& verb) {
    http::SyncRequest request;
    request.url = WebServiceHost() + path;
    request.verb = verb;
    request.userAgent = kXmlSenderAgent;
    request.body = body;
    request.bodyLength = body != nullptr ? length : 0;
    if (body != nullptr) {
        request.headers.emplace_back("Content-Type:application/xml");
    }
    // A dead or silent service must not hold the wizard for minutes.
    request.connectTimeoutMs = kReportConnectTimeoutMs;
    request.totalTimeoutMs = kReportTimeoutMs;
    return request;
}

}  // namespace

void InitWebServiceHost() {
    const char* configured = std::getenv("STUB_WEBSERVICE_URL");
    SetWebServiceHost(configured != nullptr && *configured ? configured : kDefaultWebServiceUrl);
}

void SetWebServiceHost(const std::string& baseUrl) {
    std::string base = baseUrl;
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    const std::lock_guard<std::mutex> guard(hostLock);
    Host() = base;
}

std::string WebServiceHost() {
    const std::lock_guard<std::mutex> guard(hostLock);
    return Host();
}

std::string TokenServiceUrl() {
    return WebServiceHost() + "/v1/token";
}

bool SendToWebService(const std::uint8_t* body, std::size_t length, const std::string& path,
                      const std::string& verb) {
    http::SyncRequest request = XmlRequest(body, length, path, verb);
    request.read = http::SyncRequest::Read::kNothing;
    return http::Perform(request).sent;
}

bool ExchangeWithWebService(const std::uint8_t* body, std::size_t length, const std::string& path,
                            std::string& reply) {
    http::SyncRequest request = XmlRequest(body, length, path, "POST");
    request.maxBody = kMaxExchangeReply;
    const http::SyncReply answer = http::Perform(request);
    if (!answer.received) {
        return false;
    }
    reply = WidenBytes(answer.body);
    return true;
}

bool PostAndRead(const std::string& url, const std::uint8_t* body, std::size_t length,
                 std::vector<std::uint8_t>& reply, bool formHeader) {
    if (!HasHostAndPath(url)) {
        return false;  // before any connection
    }
    http::SyncRequest request;
    request.url = url;
    request.verb = "POST";
    request.userAgent = http::BrowserUserAgent();
    request.body = body;
    request.bodyLength = body != nullptr ? length : 0;
    if (formHeader) {
        request.headers.emplace_back("Content-type: application/x-www-form-urlencoded");
    }
    http::SyncReply answer = http::Perform(request);
    reply.clear();
    if (!answer.received) {
        return false;
    }
    reply = std::move(answer.body);
    return true;
}

bool RequestTokenizedUrl(std::string& url) {
    if (url.empty()) {
        return false;
    }
    std::vector<std::uint8_t> reply;
    if (!PostAndRead(TokenServiceUrl(), reinterpret_cast<const std::uint8_t*>(url.data()),
                     url.size(), reply, false)) {
        return false;
    }
    std::string tokenized = ExtractTokenizedUrl(
        std::string_view(reinterpret_cast<const char*>(reply.data()), reply.size()));
    if (tokenized.empty()) {
        return false;
    }
    url = std::move(tokenized);
    return true;
}

std::string ExtractTokenizedUrl(std::string_view reply) {
    static constexpr std::string_view kKey = "\"tokenizedUrl\":";
    const std::size_t key = reply.find(kKey);
    if (key == std::string_view::npos) {
        return {};
    }
    const std::size_t open = reply.find('"', key + kKey.size());
    if (open == std::string_view::npos) {
        return {};
    }
    const std::size_t close = reply.find('"', open + 1);
    if (close == std::string_view::npos) {
        return {};
    }
    return std::string(reply.substr(open + 1, close - open - 1));
}

}  // namespace stubframework::core
