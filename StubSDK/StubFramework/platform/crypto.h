// Digests of byte blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace stubframework::platform::crypto {

using Sha1Digest = std::array<std::uint8_t, 20>;

using Sha256Digest = std::array<std::uint8_t, 32>;

// Fills `data` from the system's random source; false when it cannot.
bool RandomBytes(void* data, std::size_t size);

// A new random GUID in the registry-free text form
// ("xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx", lower case, no braces); empty
// when there is no random source.
std::string NewGuidText();

// False when the digest could not be computed.
bool Sha1(const void* data, std::size_t size, Sha1Digest& digest);
bool Sha256(const void* data, std::size_t size, Sha256Digest& digest);

// A SHA-1 over data that arrives in pieces.
class Sha1Stream {
public:
    Sha1Stream();
    ~Sha1Stream();
    Sha1Stream(const Sha1Stream&) = delete;
    Sha1Stream& operator=(const Sha1Stream&) = delete;

    bool Update(const void* data, std::size_t size);
    // Ends this digest and starts the next one.
    bool Finish(Sha1Digest& digest);

private:
    void* context_;
};

}  // namespace stubframework::platform::crypto
