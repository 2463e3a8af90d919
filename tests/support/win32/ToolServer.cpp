#include "support/ToolServer.h"

#include "platform/win32/Win32.h"
// After windows.h, which it needs.
#include <wincrypt.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "platform/http.h"

namespace stubtest {
namespace {

namespace http = stubframework::platform::http;

std::string Variable(const std::string& tool, const std::string& what) {
    std::string name = "STUB_" + tool + "_" + what;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
        return c == '-' ? '_' : static_cast<char>(std::toupper(c));
    });
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || *value == '\0') {
        throw std::runtime_error(name + " names no running " + tool +
                                 " (scripts/win32-test starts one)");
    }
    return value;
}

}  // namespace

struct ToolServer::Process {};

ToolServer::ToolServer(const std::string& tool, const std::string& /*script*/)
    : folder_(Variable(tool, "folder")), port_(std::atoi(Variable(tool, "port").c_str())) {}

ToolServer::~ToolServer() = default;

std::string ToolServer::Origin(const std::string& scheme) const {
    const char* host = scheme == "https" ? "localhost" : "127.0.0.1";
    return scheme + "://" + host + ":" + std::to_string(port_);
}

// Added for good: taking a certificate out of the root store asks the user.
TrustedCertificate::TrustedCertificate(const std::string& pemFile) {
    const std::string pem = ReadFile(pemFile);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        throw std::runtime_error("no certificate in " + pemFile);
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                         der.data(), &size, nullptr, nullptr);
    HCERTSTORE const store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (store == nullptr) {
        throw std::runtime_error("the current user's root store cannot be opened");
    }
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    if (!added) {
        throw std::runtime_error("the certificate of " + pemFile + " cannot be trusted");
    }
}

TrustedCertificate::~TrustedCertificate() = default;

std::string HttpRequest(const std::string& url, const std::string& /*caFile*/,
                        const std::string* putBody) {
    http::SyncRequest request;
    request.url = url;
    if (putBody != nullptr) {
        request.verb = "PUT";
        request.body = reinterpret_cast<const std::uint8_t*>(putBody->data());
        request.bodyLength = putBody->size();
    }
    const http::SyncReply reply = http::Perform(request);
    if (!reply.received) {
        throw std::runtime_error("test server unreachable: " + url + " (" +
                                 std::to_string(reply.error) + ")");
    }
    return std::string(reply.body.begin(), reply.body.end());
}

}  // namespace stubtest
