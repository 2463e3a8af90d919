#include "support/WebServiceMock.h"

#include <curl/curl.h>
#include <signal.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

namespace stubtest {
namespace {

std::size_t Append(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

}  // namespace

WebServiceMock::WebServiceMock() {
    const std::string portFile = work_ / "port";
    const std::string script =
        std::string(STUB_SOURCE_DIR) + "/tools/webservice-mock/webservice_mock.py";
    const char* const arguments[] = {
        "env",         "python3",        script.c_str(), certs_.Path().c_str(),
        "--port-file", portFile.c_str(), nullptr};
    server_ = fork();
    if (server_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        execv("/usr/bin/env", const_cast<char* const*>(arguments));
        _exit(127);
    }
    int port = 0;
    for (int i = 0; i < 400 && port == 0; ++i) {  // the key is made first
        port = std::atoi(ReadFile(portFile).c_str());
        if (port == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    if (port == 0) {
        throw std::runtime_error("the web-service mock did not start");
    }
    base_ = "https://127.0.0.1:" + std::to_string(port);
    trust_ = std::make_unique<ScopedEnv>("STUB_CA_BUNDLE", CertificatePath());
}

WebServiceMock::~WebServiceMock() {
    if (server_ > 0) {
        kill(server_, SIGTERM);
        waitpid(server_, nullptr, 0);
    }
}

std::string WebServiceMock::Control(const std::string& path, const std::string* putBody) const {
    std::string body;
    CURL* easy = curl_easy_init();
    const std::string url = base_ + path;
    const std::string certificate = CertificatePath();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_CAINFO, certificate.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    if (putBody != nullptr) {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "PUT");
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, putBody->data());
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(putBody->size()));
    }
    const CURLcode result = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    if (result != CURLE_OK) {
        throw std::runtime_error("web-service mock unreachable");
    }
    return body;
}

std::vector<WebServiceMock::Request> WebServiceMock::Requests() const {
    std::vector<Request> requests;
    const auto list = nlohmann::json::parse(Control("/__requests"));
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
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            return value;
        }
    }
    return {};
}

bool WebServiceMock::Request::HasHeader(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace stubtest
