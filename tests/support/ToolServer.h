// The Python servers under tools/, for the tests.
//
// On Linux each object runs a server of its own on a scratch folder and a
// free port (read from the port file it writes), stopped with the object.
// Wine runs no Linux program, so on Windows the test runner starts one of
// each tool beforehand and names it through the environment:
// STUB_<TOOL>_PORT and STUB_<TOOL>_FOLDER (a Windows path), TOOL being the
// tool's folder in capitals ("release-server" -> RELEASE_SERVER). The object
// then stands for that server.
#pragma once

#include <memory>
#include <string>

#include "support/TestFolder.h"

namespace stubtest {

class ToolServer {
public:
    // tools/<tool>/<script>, given its folder and "--port-file FILE".
    ToolServer(const std::string& tool, const std::string& script);
    ~ToolServer();
    ToolServer(const ToolServer&) = delete;
    ToolServer& operator=(const ToolServer&) = delete;

    int Port() const { return port_; }
    // Whether other tests use the same server (on Windows).
    bool Shared() const { return process_ == nullptr; }
    // The folder it serves, or keeps its files in.
    const std::string& Folder() const { return folder_; }
    // "scheme://host:port". Wine refuses a certificate whose name is an
    // address, so there the secure origin names the host.
    std::string Origin(const std::string& scheme) const;

private:
    struct Process;
    std::unique_ptr<Process> process_;  // the server this object runs; null when shared
    std::string folder_;
    int port_ = 0;
};

// Makes our HTTP stack trust a test certificate while the object lives:
// through STUB_CA_BUNDLE on Linux, the current user's root store on Windows.
class TrustedCertificate {
public:
    explicit TrustedCertificate(const std::string& pemFile);
    ~TrustedCertificate();
    TrustedCertificate(const TrustedCertificate&) = delete;
    TrustedCertificate& operator=(const TrustedCertificate&) = delete;

private:
    std::unique_ptr<ScopedEnv> bundle_;
};

// A GET (or, with a body, a PUT); throws when the server cannot be reached.
// `caFile` names the certificate a secure server shows (on Windows it must
// be trusted already: see TrustedCertificate).
std::string HttpRequest(const std::string& url, const std::string& caFile = "",
                        const std::string* putBody = nullptr);

}  // namespace stubtest
