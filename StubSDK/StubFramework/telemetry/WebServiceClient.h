// The transport to the installer's web service: XML reports over HTTPS to
// the one configured host, a URL poster, and the token request that turns a
// download URL into a tokenized one. Every call blocks; failures are only a
// false result (callers log).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace stubframework::core {

// The web service as "https://host" (a port may follow). A deployment
// setting: the compiled default, or STUB_WEBSERVICE_URL when set. Set once
// when the framework starts, read afterwards.
void InitWebServiceHost();
void SetWebServiceHost(const std::string& baseUrl);
std::string WebServiceHost();
// The token service: the same host, "/v1/token".
std::string TokenServiceUrl();

inline constexpr const char* kXmlSenderAgent = "Mervish Message Client/1.0";
// The limits of every report and exchange.
inline constexpr std::uint32_t kReportConnectTimeoutMs = 10000;
inline constexpr std::uint32_t kReportTimeoutMs = 30000;

// Sends the body to the web service's `path` with `verb`; true once the
// request went out (no reply is read).
bool SendToWebService(const std::uint8_t* body, std::size_t length, const std::string& path,
                      const std::string& verb);
// Posts the body (no content type without one) and reads the reply, each
// byte widened to one character; false when no reply came or it was longer
// than kMaxExchangeReply.
inline constexpr std::size_t kMaxExchangeReply = std::size_t{64} * 1024;
bool ExchangeWithWebService(const std::uint8_t* body, std::size_t length, const std::string& path,
                            std::string& reply);
// Posts to a full http(s) URL with a path, with the browser's user agent;
// true when the whole reply was read.
bool PostAndRead(const std::string& url, const std::uint8_t* body, std::size_t length,
                 std::vector<std::uint8_t>& reply, bool formHeader);
// Replaces `url` with its tokenized form; false (and `url` unchanged) when
// there is none.
bool RequestTokenizedUrl(std::string& url);
// The text between the first two quotation marks after "\"tokenizedUrl\":",
// as it stands; empty when there is none.
std::string ExtractTokenizedUrl(std::string_view reply);

}  // namespace stubframework::core
