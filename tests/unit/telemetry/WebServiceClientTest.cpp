// The web-service transport against tools/webservice-mock over verified TLS.
#include <gtest/gtest.h>

#include "platform/http.h"
#include "support/WebServiceMock.h"
#include "telemetry/WebServiceClient.h"

namespace {

using namespace stubframework::core;

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(ExtractTokenizedUrlTest, TakesTheNextQuotedTextAsItStands) {
    EXPECT_EQ(ExtractTokenizedUrl(R"({"tokenizedUrl":"abc"})"), "abc");
    EXPECT_EQ(ExtractTokenizedUrl(R"({"tokenizedUrl": x "https://a/b?t=1\u0026x"})"),
              "https://a/b?t=1\\u0026x");
    EXPECT_EQ(ExtractTokenizedUrl(R"({"tokenizedUrl":""})"), "");
    EXPECT_EQ(ExtractTokenizedUrl(R"({"tokenizedUrl":"abc)"), "");
    EXPECT_EQ(ExtractTokenizedUrl(R"({"tokenizedUrl":)"), "");
    EXPECT_EQ(ExtractTokenizedUrl(R"({"tokenizedURL":"abc"})"), "");
}

class WebServiceClientTest : public ::testing::Test {
protected:
    void SetUp() override { SetWebServiceHost(mock.BaseUrl()); }
    void TearDown() override { InitWebServiceHost(); }

    stubtest::WebServiceMock mock;
};

TEST_F(WebServiceClientTest, TokenExchange) {
    std::string url = "https://downloads.example/p.bin";
    ASSERT_TRUE(RequestTokenizedUrl(url));
    EXPECT_EQ(url, "https://downloads.example/p.bin?token=mock");
    const auto requests = mock.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/v1/token");
    EXPECT_EQ(requests[0].body, "https://downloads.example/p.bin");
    EXPECT_FALSE(requests[0].HasHeader("Content-Type"));  // a raw body, no form encoding
    EXPECT_EQ(requests[0].Header("User-Agent"), stubframework::platform::http::BrowserUserAgent());

    // An empty value, or none, leaves the URL as it was.
    for (const char* reply : {R"({"tokenizedUrl":""})", "{}", R"({"tokenizedUrl":"open)"}) {
        mock.SetReply("/v1/token", reply);
        url = "https://downloads.example/p.bin";
        EXPECT_FALSE(RequestTokenizedUrl(url)) << reply;
        EXPECT_EQ(url, "https://downloads.example/p.bin") << reply;
    }
    std::string empty;
    mock.Reset();
    EXPECT_FALSE(RequestTokenizedUrl(empty));
    EXPECT_TRUE(mock.Requests().empty());
}

TEST_F(WebServiceClientTest, PostAndReadReadsLongRepliesWholeAndRefusesOddUrls) {
    std::string longReply(200000, 'r');
    longReply[65536] = 'X';
    mock.SetReply("/v1/token", longReply);
    std::vector<std::uint8_t> reply;
    const auto body = Bytes("form=1");
    ASSERT_TRUE(PostAndRead(TokenServiceUrl(), body.data(), body.size(), reply, true));
    EXPECT_EQ(std::string(reply.begin(), reply.end()), longReply);
    EXPECT_EQ(mock.Requests().at(0).Header("Content-Type"), "application/x-www-form-urlencoded");

    mock.Reset();
    for (const std::string& url : {std::string("ftp://127.0.0.1/v1/token"), mock.BaseUrl(),
                                   mock.BaseUrl() + "?x=1", std::string("not a url")}) {
        reply = Bytes("old");
        EXPECT_FALSE(PostAndRead(url, body.data(), body.size(), reply, false)) << url;
    }
    EXPECT_TRUE(mock.Requests().empty()) << "an odd URL reached the server";
}

TEST_F(WebServiceClientTest, XmlSenderOverVerifiedTls) {
    const auto xml = Bytes("<report a=\"1\"/>");
    ASSERT_TRUE(SendToWebService(xml.data(), xml.size(), "/v1/logAnalytics", "POST"));
    ASSERT_TRUE(SendToWebService(xml.data(), xml.size(), "/v1/reportError", "PUT"));
    // Exchange: with no body there is no content type; bytes are widened one by one.
    mock.SetReply("/v1/isInEmbargoedCountry", "<country>\xC9</country>");
    std::string reply = "untouched";
    ASSERT_TRUE(ExchangeWithWebService(nullptr, 0, "/v1/isInEmbargoedCountry", reply));
    EXPECT_EQ(reply, "<country>\xC3\x89</country>");

    const auto requests = mock.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].body, "<report a=\"1\"/>");
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/xml");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Mervish Message Client/1.0");
    EXPECT_EQ(requests[1].method, "PUT");
    EXPECT_EQ(requests[1].path, "/v1/reportError");
    EXPECT_EQ(requests[2].method, "POST");
    EXPECT_FALSE(requests[2].HasHeader("Content-Type"));
    EXPECT_EQ(requests[2].body, "");
}

TEST_F(WebServiceClientTest, AnUntrustedCertificateFailsTheSend) {
    stubtest::ScopedEnv systemStoreOnly("STUB_CA_BUNDLE", "");
    const auto xml = Bytes("<report/>");
    EXPECT_FALSE(SendToWebService(xml.data(), xml.size(), "/v1/logAnalytics", "POST"));
    std::string reply = "untouched";
    EXPECT_FALSE(ExchangeWithWebService(xml.data(), xml.size(), "/v1/isInEmbargoedCountry", reply));
    EXPECT_EQ(reply, "untouched");
    std::string url = "https://downloads.example/p.bin";
    EXPECT_FALSE(RequestTokenizedUrl(url));
    EXPECT_TRUE(mock.Requests().empty());
}

TEST_F(WebServiceClientTest, ASilentServiceEndsTheRequestAtItsLimit) {
    // The service takes the request and then says nothing for 5 s.
    mock.SetBehaviour("/v1/logAnalytics", R"({"delayMs": 5000})");
    namespace http = stubframework::platform::http;
    http::SyncRequest request;
    request.url = mock.BaseUrl() + "/v1/logAnalytics";
    request.verb = "POST";
    request.totalTimeoutMs = 300;
    const http::SyncReply reply = http::Perform(request);
    EXPECT_FALSE(reply.received);
    EXPECT_EQ(reply.error, http::kErrorTimeout);
    // Only the limit ended it: the same request with time to spare is answered.
    request.totalTimeoutMs = 0;
    mock.SetBehaviour("/v1/logAnalytics", R"({"delayMs": 10})");
    const http::SyncReply answered = http::Perform(request);
    EXPECT_TRUE(answered.received);
    EXPECT_EQ(answered.status, 200);
}

}  // namespace
