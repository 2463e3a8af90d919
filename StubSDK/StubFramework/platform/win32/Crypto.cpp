// Digests, random bytes, HKDF and AES-256-GCM over CNG (bcrypt.dll).
//
// Algorithm providers are opened once and kept for the process: opening one
// is costly, and one handle serves any number of threads.
#include "platform/crypto.h"

#include "platform/win32/Win32.h"
// After windows.h.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <limits>

namespace stubframework::platform::crypto {
namespace {

// CNG counts in ULONG; larger blocks go in pieces or are refused.
constexpr std::size_t kMaxPiece = std::numeric_limits<ULONG>::max();

bool FitsUlong(std::size_t size) {
    return size <= kMaxPiece;
}

// CNG takes non-const pointers for input buffers.
PUCHAR Mutable(const void* bytes) {
    return const_cast<PUCHAR>(static_cast<const UCHAR*>(bytes));
}

BCRYPT_ALG_HANDLE OpenProvider(LPCWSTR algorithm, ULONG flags) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, flags))) {
        return nullptr;
    }
    return handle;
}

BCRYPT_ALG_HANDLE Sha1Provider() {
    static const BCRYPT_ALG_HANDLE handle = OpenProvider(BCRYPT_SHA1_ALGORITHM, 0);
    return handle;
}

BCRYPT_ALG_HANDLE Sha256Provider() {
    static const BCRYPT_ALG_HANDLE handle = OpenProvider(BCRYPT_SHA256_ALGORITHM, 0);
    return handle;
}

BCRYPT_ALG_HANDLE Md5Provider() {
    static const BCRYPT_ALG_HANDLE handle = OpenProvider(BCRYPT_MD5_ALGORITHM, 0);
    return handle;
}

BCRYPT_ALG_HANDLE HmacSha256Provider() {
    static const BCRYPT_ALG_HANDLE handle =
        OpenProvider(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    return handle;
}

BCRYPT_ALG_HANDLE AesGcmProvider() {
    static const BCRYPT_ALG_HANDLE handle = [] {
        BCRYPT_ALG_HANDLE aes = OpenProvider(BCRYPT_AES_ALGORITHM, 0);
        const auto* mode = reinterpret_cast<const UCHAR*>(BCRYPT_CHAIN_MODE_GCM);
        if (aes != nullptr &&
            !BCRYPT_SUCCESS(BCryptSetProperty(aes, BCRYPT_CHAINING_MODE, Mutable(mode),
                                              sizeof(BCRYPT_CHAIN_MODE_GCM), 0))) {
            BCryptCloseAlgorithmProvider(aes, 0);
            aes = nullptr;
        }
        return aes;
    }();
    return handle;
}

// CNG allocates the hash object itself when given none (Windows 7 on).
BCRYPT_HASH_HANDLE NewHash(BCRYPT_ALG_HANDLE algorithm, std::span<const std::uint8_t> secret = {}) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (algorithm == nullptr || !FitsUlong(secret.size()) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, Mutable(secret.data()),
                                         static_cast<ULONG>(secret.size()), 0))) {
        return nullptr;
    }
    return hash;
}

class Hash {
public:
    explicit Hash(BCRYPT_ALG_HANDLE algorithm, std::span<const std::uint8_t> secret = {})
        : handle_(NewHash(algorithm, secret)) {}
    ~Hash() {
        if (handle_ != nullptr) {
            BCryptDestroyHash(handle_);
        }
    }
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;

    BCRYPT_HASH_HANDLE Get() const { return handle_; }

private:
    BCRYPT_HASH_HANDLE handle_;
};

bool HashData(BCRYPT_HASH_HANDLE hash, const void* data, std::size_t size) {
    if (hash == nullptr) {
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    do {
        const std::size_t piece = std::min(size, kMaxPiece);
        if (!BCRYPT_SUCCESS(BCryptHashData(hash, Mutable(bytes), static_cast<ULONG>(piece), 0))) {
            return false;
        }
        bytes += piece;
        size -= piece;
    } while (size > 0);
    return true;
}

bool FinishHash(BCRYPT_HASH_HANDLE hash, std::span<std::uint8_t> digest) {
    return hash != nullptr && BCRYPT_SUCCESS(BCryptFinishHash(
                                  hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
}

template <typename Digest>
bool OneShot(BCRYPT_ALG_HANDLE algorithm, const void* data, std::size_t size, Digest& digest) {
    const Hash hash(algorithm);
    return HashData(hash.Get(), data, size) && FinishHash(hash.Get(), digest);
}

using Sha256Block = std::array<std::uint8_t, 32>;

bool HmacSha256(std::span<const std::uint8_t> key,
                std::initializer_list<std::span<const std::uint8_t>> parts, Sha256Block& out) {
    const Hash hmac(HmacSha256Provider(), key);
    for (const std::span<const std::uint8_t> part : parts) {
        if (!HashData(hmac.Get(), part.data(), part.size())) {
            return false;
        }
    }
    return FinishHash(hmac.Get(), out);
}

// Secret bytes are wiped when they go.
struct Scrubbed {
    Sha256Block bytes{};
    ~Scrubbed() { SecureZeroMemory(bytes.data(), bytes.size()); }
};

class SymmetricKey {
public:
    explicit SymmetricKey(const Aes256Key& key) {
        const BCRYPT_ALG_HANDLE aes = AesGcmProvider();
        if (aes != nullptr && !BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(
                                  aes, &handle_, nullptr, 0, Mutable(key.data()),
                                  static_cast<ULONG>(key.size()), 0))) {
            handle_ = nullptr;
        }
    }
    ~SymmetricKey() {
        if (handle_ != nullptr) {
            BCryptDestroyKey(handle_);
        }
    }
    SymmetricKey(const SymmetricKey&) = delete;
    SymmetricKey& operator=(const SymmetricKey&) = delete;

    BCRYPT_KEY_HANDLE Get() const { return handle_; }

private:
    BCRYPT_KEY_HANDLE handle_ = nullptr;
};

BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO GcmInfo(const AesGcmNonce& nonce,
                                              std::span<const std::uint8_t> associated,
                                              std::uint8_t* tag) {
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = Mutable(nonce.data());
    info.cbNonce = static_cast<ULONG>(nonce.size());
    info.pbAuthData = associated.empty() ? nullptr : Mutable(associated.data());
    info.cbAuthData = static_cast<ULONG>(associated.size());
    info.pbTag = tag;
    info.cbTag = static_cast<ULONG>(kAesGcmTagSize);
    return info;
}

}  // namespace

bool RandomBytes(void* data, std::size_t size) {
    auto* bytes = static_cast<std::uint8_t*>(data);
    while (size > 0) {
        const std::size_t piece = std::min(size, kMaxPiece);
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(piece),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return true;
}

bool Sha1(const void* data, std::size_t size, Sha1Digest& digest) {
    return OneShot(Sha1Provider(), data, size, digest);
}

bool Sha256(const void* data, std::size_t size, Sha256Digest& digest) {
    return OneShot(Sha256Provider(), data, size, digest);
}

bool Md5(const void* data, std::size_t size, Md5Digest& digest) {
    return OneShot(Md5Provider(), data, size, digest);
}

// RFC 5869 over HMAC-SHA256: the key derivation algorithm of CNG is newer
// than the systems we run on.
bool HkdfSha256(std::span<const std::uint8_t> secret, std::span<const std::uint8_t> salt,
                std::span<const std::uint8_t> info, std::span<std::uint8_t> key) {
    constexpr std::size_t kHashSize = 32;
    if (key.empty() || key.size() > 255 * kHashSize) {
        return false;
    }
    // No salt is a salt of zeros (CNG wants a key of at least one byte).
    const Sha256Block zeros{};
    Scrubbed pseudoRandom;
    if (!HmacSha256(salt.empty() ? std::span<const std::uint8_t>(zeros) : salt, {secret},
                    pseudoRandom.bytes)) {
        return false;
    }
    Scrubbed block;
    std::span<const std::uint8_t> previous;
    for (std::size_t done = 0, round = 1; done < key.size(); ++round) {
        const std::uint8_t counter = static_cast<std::uint8_t>(round);
        if (!HmacSha256(pseudoRandom.bytes, {previous, info, std::span(&counter, 1)},
                        block.bytes)) {
            return false;
        }
        const std::size_t take = std::min(kHashSize, key.size() - done);
        std::copy_n(block.bytes.begin(), take, key.begin() + static_cast<std::ptrdiff_t>(done));
        done += take;
        previous = block.bytes;
    }
    return true;
}

bool Aes256GcmSeal(const Aes256Key& key, const AesGcmNonce& nonce,
                   std::span<const std::uint8_t> associated, std::span<const std::uint8_t> plain,
                   std::vector<std::uint8_t>& sealed) {
    if (!FitsUlong(associated.size()) || !FitsUlong(plain.size())) {
        return false;
    }
    const SymmetricKey cipher(key);
    if (cipher.Get() == nullptr) {
        return false;
    }
    const std::size_t start = sealed.size();
    sealed.resize(start + plain.size() + kAesGcmTagSize);
    std::uint8_t* out = sealed.data() + start;
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = GcmInfo(nonce, associated, out + plain.size());
    ULONG written = 0;
    const auto size = static_cast<ULONG>(plain.size());
    if (!BCRYPT_SUCCESS(BCryptEncrypt(cipher.Get(), plain.empty() ? nullptr : Mutable(plain.data()),
                                      size, &info, nullptr, 0, plain.empty() ? nullptr : out, size,
                                      &written, 0)) ||
        written != size) {
        sealed.resize(start);
        return false;
    }
    return true;
}

bool Aes256GcmOpen(const Aes256Key& key, const AesGcmNonce& nonce,
                   std::span<const std::uint8_t> associated, std::span<const std::uint8_t> sealed,
                   std::vector<std::uint8_t>& plain) {
    plain.clear();
    if (sealed.size() < kAesGcmTagSize || !FitsUlong(sealed.size()) ||
        !FitsUlong(associated.size())) {
        return false;
    }
    const SymmetricKey cipher(key);
    if (cipher.Get() == nullptr) {
        return false;
    }
    const std::size_t cipherSize = sealed.size() - kAesGcmTagSize;
    std::array<std::uint8_t, kAesGcmTagSize> tag{};
    std::copy_n(sealed.begin() + static_cast<std::ptrdiff_t>(cipherSize), tag.size(), tag.begin());
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = GcmInfo(nonce, associated, tag.data());
    std::vector<std::uint8_t> out(cipherSize);
    ULONG written = 0;
    const auto size = static_cast<ULONG>(cipherSize);
    // A wrong tag is STATUS_AUTH_TAG_MISMATCH; the output is then not ours to keep.
    if (!BCRYPT_SUCCESS(BCryptDecrypt(cipher.Get(), size == 0 ? nullptr : Mutable(sealed.data()),
                                      size, &info, nullptr, 0, size == 0 ? nullptr : out.data(),
                                      size, &written, 0)) ||
        written != size) {
        SecureZeroMemory(out.data(), out.size());
        return false;
    }
    plain = std::move(out);
    return true;
}

namespace {

template <typename Digest>
BCRYPT_ALG_HANDLE AlgorithmOf() {
    return sizeof(Digest) == sizeof(Sha256Digest) ? Sha256Provider() : Sha1Provider();
}

}  // namespace

// context_ is the CNG hash handle itself, or null when none could be made.
template <typename Digest>
HashStream<Digest>::HashStream() : context_(NewHash(AlgorithmOf<Digest>())) {}

template <typename Digest>
HashStream<Digest>::~HashStream() {
    if (context_ != nullptr) {
        BCryptDestroyHash(context_);
    }
}

template <typename Digest>
bool HashStream<Digest>::Update(const void* data, std::size_t size) {
    return HashData(context_, data, size);
}

template <typename Digest>
bool HashStream<Digest>::Finish(Digest& digest) {
    const bool done = FinishHash(context_, digest);
    // A finished CNG hash takes no more data: the next digest needs a new one.
    if (context_ != nullptr) {
        BCryptDestroyHash(context_);
    }
    context_ = NewHash(AlgorithmOf<Digest>());
    return done;
}

template class HashStream<Sha1Digest>;
template class HashStream<Sha256Digest>;

}  // namespace stubframework::platform::crypto
