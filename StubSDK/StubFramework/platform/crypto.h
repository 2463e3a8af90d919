// Digests, random bytes, GUID text, key derivation and authenticated
// encryption of byte blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace stubframework::platform::crypto {

using Sha1Digest = std::array<std::uint8_t, 20>;

using Sha256Digest = std::array<std::uint8_t, 32>;

using Md5Digest = std::array<std::uint8_t, 16>;

using Aes256Key = std::array<std::uint8_t, 32>;
using AesGcmNonce = std::array<std::uint8_t, 12>;
inline constexpr std::size_t kAesGcmTagSize = 16;

// Fills `data` from the system's random source; false when it cannot.
bool RandomBytes(void* data, std::size_t size);

enum class GuidCase { kLower, kUpper };

// A new random GUID in the registry-free text form
// ("xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx", no braces); empty when there is
// no random source. Upper case is how StringFromGUID2 writes one.
std::string NewGuidText(GuidCase letters = GuidCase::kLower);

// False when the digest could not be computed.
bool Sha1(const void* data, std::size_t size, Sha1Digest& digest);
bool Sha256(const void* data, std::size_t size, Sha256Digest& digest);
bool Md5(const void* data, std::size_t size, Md5Digest& digest);

// HKDF with SHA-256 (RFC 5869): fills `key` from the secret, salt and info.
bool HkdfSha256(std::span<const std::uint8_t> secret, std::span<const std::uint8_t> salt,
                std::span<const std::uint8_t> info, std::span<std::uint8_t> key);

// AES-256-GCM. Seal appends the ciphertext and then the 16-byte tag to
// `sealed`; Open takes that form back and fails, leaving `plain` empty, when
// the tag does not match (wrong key, changed bytes, truncated input).
// `associated` is authenticated but not encrypted.
bool Aes256GcmSeal(const Aes256Key& key, const AesGcmNonce& nonce,
                   std::span<const std::uint8_t> associated, std::span<const std::uint8_t> plain,
                   std::vector<std::uint8_t>& sealed);
bool Aes256GcmOpen(const Aes256Key& key, const AesGcmNonce& nonce,
                   std::span<const std::uint8_t> associated, std::span<const std::uint8_t> sealed,
                   std::vector<std::uint8_t>& plain);

// A digest over data that arrives in pieces: SHA-1 or SHA-256, after the
// digest it gives.
template <typename Digest>
class HashStream {
public:
    HashStream();
    ~HashStream();
    HashStream(const HashStream&) = delete;
    HashStream& operator=(const HashStream&) = delete;

    bool Update(const void* data, std::size_t size);
    // Ends this digest and starts the next one.
    bool Finish(Digest& digest);

private:
    void* context_;
};

using Sha1Stream = HashStream<Sha1Digest>;
using Sha256Stream = HashStream<Sha256Digest>;

}  // namespace stubframework::platform::crypto
