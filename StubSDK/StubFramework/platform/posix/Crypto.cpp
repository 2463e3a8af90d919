#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "platform/crypto.h"

namespace stubframework::platform::crypto {
namespace {

// Set up before anything else can (libcurl among them), and without
// OpenSSL's exit-time cleanup: that cleanup would run before the thread
// pool is joined and strand each pool thread's OpenSSL state. At the end
// of the process everything goes anyway.
struct OpenSslSetup {
    OpenSslSetup() noexcept { OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr); }
};
const OpenSslSetup kOpenSslSetup;

}  // namespace

bool Sha1(const void* data, std::size_t size, Sha1Digest& digest) {
    unsigned int length = 0;
    return EVP_Digest(data, size, digest.data(), &length, EVP_sha1(), nullptr) == 1 &&
           length == digest.size();
}

bool Sha256(const void* data, std::size_t size, Sha256Digest& digest) {
    unsigned int length = 0;
    return EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr) == 1 &&
           length == digest.size();
}

Sha1Stream::Sha1Stream() : context_(EVP_MD_CTX_new()) {
    if (context_ != nullptr) {
        EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_), EVP_sha1(), nullptr);
    }
}

Sha1Stream::~Sha1Stream() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
}

bool Sha1Stream::Update(const void* data, std::size_t size) {
    return context_ != nullptr &&
           EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), data, size) == 1;
}

bool Sha1Stream::Finish(Sha1Digest& digest) {
    auto* context = static_cast<EVP_MD_CTX*>(context_);
    unsigned int length = 0;
    const bool done = context != nullptr &&
                      EVP_DigestFinal_ex(context, digest.data(), &length) == 1 &&
                      length == digest.size();
    if (context != nullptr) {
        EVP_DigestInit_ex(context, EVP_sha1(), nullptr);
    }
    return done;
}

}  // namespace stubframework::platform::crypto
