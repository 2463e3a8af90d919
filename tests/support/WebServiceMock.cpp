#include "support/WebServiceMock.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

namespace stubtest {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

}  // namespace

// A server shared between tests (on Windows) starts each one afresh.
WebServiceMock::WebServiceMock()
    : server_("webservice-mock", "webservice_mock.py"),
      base_(server_.Origin("https")),
      trust_(CertificatePath()) {
    Reset();
}

std::string WebServiceMock::Control(const std::string& path, const std::string* putBody) const {
    return HttpRequest(base_ + path, CertificatePath(), putBody);
}

std::vector<WebServiceMock::Request> WebServiceMock::Requests() const {
    return Parse(Control("/__requests"));
}

std::vector<WebServiceMock::Request> WebServiceMock::WaitFor(const std::string& path,
                                                             std::size_t count) const {
    // The mock's own wait is long; a test that needs more waits again.
    for (;;) {
        std::vector<Request> requests = Parse(Control(
            "/__wait?path=" + path + "&count=" + std::to_string(count) + "&timeoutMs=20000"));
        if (requests.size() >= count) {
            return requests;
        }
    }
}

void WebServiceMock::SetBehaviour(const std::string& path, const std::string& json) const {
    Control("/__behaviour" + path, &json);
}

std::vector<WebServiceMock::Request> WebServiceMock::Parse(const std::string& json) {
    std::vector<Request> requests;
    const auto list = nlohmann::json::parse(json);
    for (const auto& item : list) {
        Request request;
        request.method = item["method"].get<std::string>();
        request.path = item["path"].get<std::string>();
        request.query = item["query"].get<std::string>();
        for (const auto& header : item["headers"]) {
            request.headers.emplace_back(header[0].get<std::string>(),
                                         header[1].get<std::string>());
        }
        // Latin-1 text (as UTF-8) back to the bytes it stands for.
        const std::string text = item["body"].get<std::string>();
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            if (byte >= 0xC0 && i + 1 < text.size()) {
                request.body += static_cast<char>(((byte & 0x1F) << 6) |
                                                  (static_cast<unsigned char>(text[++i]) & 0x3F));
            } else {
                request.body += static_cast<char>(byte);
            }
        }
        requests.push_back(std::move(request));
    }
    return requests;
}

void WebServiceMock::Reset() const {
    Control("/__reset");
}

void WebServiceMock::SetReply(const std::string& path, const std::string& reply) const {
    Control("/__reply" + path, &reply);
}

std::string WebServiceMock::Request::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (SameName(key, name)) {
            return value;
        }
    }
    return {};
}

bool WebServiceMock::Request::HasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& header) { return SameName(header.first, name); });
}

}  // namespace stubtest
