#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdio>

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

bool RandomBytes(void* data, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = getrandom(bytes + got, size - got, 0);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::string NewGuidText() {
    std::uint8_t b[16];
    if (!RandomBytes(b, sizeof b)) {
        return {};
    }
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // variant 1
    char text[37];
    std::snprintf(text, sizeof text,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

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
