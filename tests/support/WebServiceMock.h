// tools/webservice-mock, with its own certificate trusted while the object
// lives, and nothing recorded or set when it is made.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/TestFolder.h"
#include "support/ToolServer.h"

namespace stubtest {

class WebServiceMock {
public:
    WebServiceMock();
    ~WebServiceMock() = default;
    WebServiceMock(const WebServiceMock&) = delete;
    WebServiceMock& operator=(const WebServiceMock&) = delete;

    // "https://127.0.0.1:PORT"
    const std::string& BaseUrl() const { return base_; }
    std::string CertificatePath() const { return server_.Folder() + "/cert.pem"; }

    struct Request {
        std::string method;
        std::string path;
        std::string query;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;  // bytes
        // The first header of that name, any case; empty when absent.
        std::string Header(const std::string& name) const;
        bool HasHeader(const std::string& name) const;
    };
    std::vector<Request> Requests() const;
    // The requests to `path` once there are `count` of them (a client may
    // send without waiting for the reply): no time limit of its own.
    std::vector<Request> WaitFor(const std::string& path, std::size_t count) const;
    void Reset() const;
    // The reply for a service path ("/v1/token") from now on.
    void SetReply(const std::string& path, const std::string& reply) const;
    // How the path answers from now on, as JSON: {"status":500},
    // {"delayMs":N}, {"reset":true}.
    void SetBehaviour(const std::string& path, const std::string& json) const;

private:
    static std::vector<Request> Parse(const std::string& json);
    std::string Control(const std::string& path, const std::string* putBody = nullptr) const;

    ToolServer server_;
    std::string base_;
    TrustedCertificate trust_;
};

}  // namespace stubtest
