#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <sys/random.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <utility>

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

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

struct KdfFree {
    void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
};
struct KdfContextFree {
    void operator()(EVP_KDF_CTX* context) const { EVP_KDF_CTX_free(context); }
};

// OpenSSL counts in int; larger blocks are refused rather than cut.
bool FitsInt(std::size_t size) {
    return size <= static_cast<std::size_t>(INT_MAX);
}

// The parameter API takes non-const pointers for input buffers.
void* Mutable(std::span<const std::uint8_t> bytes) {
    return const_cast<std::uint8_t*>(bytes.data());
}

// A GCM context keyed for one message, with the associated data already in.
CipherContext StartGcm(const Aes256Key& key, const AesGcmNonce& nonce,
                       std::span<const std::uint8_t> associated, bool encrypt) {
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context || !FitsInt(associated.size())) {
        return {};
    }
    const int enc = encrypt ? 1 : 0;
    int length = 0;
    if (EVP_CipherInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr, enc) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(nonce.size()),
                            nullptr) != 1 ||
        EVP_CipherInit_ex(context.get(), nullptr, nullptr, key.data(), nonce.data(), enc) != 1) {
        return {};
    }
    if (!associated.empty() && EVP_CipherUpdate(context.get(), nullptr, &length, associated.data(),
                                                static_cast<int>(associated.size())) != 1) {
        return {};
    }
    return context;
}

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

bool Md5(const void* data, std::size_t size, Md5Digest& digest) {
    unsigned int length = 0;
    return EVP_Digest(data, size, digest.data(), &length, EVP_md5(), nullptr) == 1 &&
           length == digest.size();
}

bool HkdfSha256(std::span<const std::uint8_t> secret, std::span<const std::uint8_t> salt,
                std::span<const std::uint8_t> info, std::span<std::uint8_t> key) {
    const std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
    if (!kdf) {
        return false;
    }
    const std::unique_ptr<EVP_KDF_CTX, KdfContextFree> context(EVP_KDF_CTX_new(kdf.get()));
    if (!context) {
        return false;
    }
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, Mutable(secret), secret.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, Mutable(salt), salt.size()),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, Mutable(info), info.size()),
        OSSL_PARAM_construct_end(),
    };
    return EVP_KDF_derive(context.get(), key.data(), key.size(), params) == 1;
}

bool Aes256GcmSeal(const Aes256Key& key, const AesGcmNonce& nonce,
                   std::span<const std::uint8_t> associated, std::span<const std::uint8_t> plain,
                   std::vector<std::uint8_t>& sealed) {
    const CipherContext context = StartGcm(key, nonce, associated, true);
    if (!context || !FitsInt(plain.size() + kAesGcmTagSize)) {
        return false;
    }
    const std::size_t start = sealed.size();
    sealed.resize(start + plain.size() + kAesGcmTagSize);
    std::uint8_t* out = sealed.data() + start;
    int length = 0;
    int finalLength = 0;
    if (EVP_EncryptUpdate(context.get(), out, &length, plain.data(),
                          static_cast<int>(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(context.get(), out + length, &finalLength) != 1 ||
        static_cast<std::size_t>(length) + static_cast<std::size_t>(finalLength) != plain.size() ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, kAesGcmTagSize,
                            out + plain.size()) != 1) {
        sealed.resize(start);
        return false;
    }
    return true;
}

bool Aes256GcmOpen(const Aes256Key& key, const AesGcmNonce& nonce,
                   std::span<const std::uint8_t> associated, std::span<const std::uint8_t> sealed,
                   std::vector<std::uint8_t>& plain) {
    plain.clear();
    if (sealed.size() < kAesGcmTagSize || !FitsInt(sealed.size())) {
        return false;
    }
    const CipherContext context = StartGcm(key, nonce, associated, false);
    if (!context) {
        return false;
    }
    const std::size_t cipherSize = sealed.size() - kAesGcmTagSize;
    std::vector<std::uint8_t> tag(sealed.begin() + static_cast<std::ptrdiff_t>(cipherSize),
                                  sealed.end());
    // One spare byte: a null output pointer would make the update count as
    // associated data.
    std::vector<std::uint8_t> out(cipherSize + 1);
    int length = 0;
    int finalLength = 0;
    if ((cipherSize > 0 && EVP_DecryptUpdate(context.get(), out.data(), &length, sealed.data(),
                                             static_cast<int>(cipherSize)) != 1) ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, kAesGcmTagSize, tag.data()) != 1 ||
        EVP_DecryptFinal_ex(context.get(), out.data() + length, &finalLength) != 1) {
        return false;
    }
    out.resize(static_cast<std::size_t>(length) + static_cast<std::size_t>(finalLength));
    plain = std::move(out);
    return true;
}

namespace {

template <typename Digest>
const EVP_MD* AlgorithmOf() {
    return sizeof(Digest) == sizeof(Sha256Digest) ? EVP_sha256() : EVP_sha1();
}

}  // namespace

template <typename Digest>
HashStream<Digest>::HashStream() : context_(EVP_MD_CTX_new()) {
    if (context_ != nullptr) {
        EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(context_), AlgorithmOf<Digest>(), nullptr);
    }
}

template <typename Digest>
HashStream<Digest>::~HashStream() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(context_));
}

template <typename Digest>
bool HashStream<Digest>::Update(const void* data, std::size_t size) {
    return context_ != nullptr &&
           EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context_), data, size) == 1;
}

template <typename Digest>
bool HashStream<Digest>::Finish(Digest& digest) {
    auto* context = static_cast<EVP_MD_CTX*>(context_);
    unsigned int length = 0;
    const bool done = context != nullptr &&
                      EVP_DigestFinal_ex(context, digest.data(), &length) == 1 &&
                      length == digest.size();
    if (context != nullptr) {
        EVP_DigestInit_ex(context, AlgorithmOf<Digest>(), nullptr);
    }
    return done;
}

template class HashStream<Sha1Digest>;
template class HashStream<Sha256Digest>;

}  // namespace stubframework::platform::crypto
