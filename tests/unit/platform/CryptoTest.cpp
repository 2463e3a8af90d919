// The primitives against published vectors.
#include "platform/crypto.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

namespace crypto = stubframework::platform::crypto;

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text.push_back(kHex[bytes[i] >> 4]);
        text.push_back(kHex[bytes[i] & 0x0F]);
    }
    return text;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(CryptoTest, DigestsAndKeyDerivationMatchPublishedVectors) {
    crypto::Md5Digest md5{};
    ASSERT_TRUE(crypto::Md5("abc", 3, md5));
    EXPECT_EQ(Hex(md5.data(), md5.size()), "900150983cd24fb0d6963f7d28e17f72");
    ASSERT_TRUE(crypto::Md5("", 0, md5));
    EXPECT_EQ(Hex(md5.data(), md5.size()), "d41d8cd98f00b204e9800998ecf8427e");

    // Streams in pieces give the published digests, and start afresh after each.
    crypto::Sha1Stream sha1;
    crypto::Sha1Digest sha1Digest{};
    crypto::Sha256Stream sha256;
    crypto::Sha256Digest sha256Digest{};
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(sha1.Update("a", 1) && sha1.Update("bc", 2) && sha1.Finish(sha1Digest));
        EXPECT_EQ(Hex(sha1Digest.data(), sha1Digest.size()),
                  "a9993e364706816aba3e25717850c26c9cd0d89d");
        ASSERT_TRUE(sha256.Update("ab", 2) && sha256.Update("", 0) && sha256.Update("c", 1) &&
                    sha256.Finish(sha256Digest));
        EXPECT_EQ(Hex(sha256Digest.data(), sha256Digest.size()),
                  "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    }

    // RFC 5869, test case 1.
    const std::vector<std::uint8_t> secret(22, 0x0b);
    const std::vector<std::uint8_t> salt{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const std::vector<std::uint8_t> info{0xf0, 0xf1, 0xf2, 0xf3, 0xf4,
                                         0xf5, 0xf6, 0xf7, 0xf8, 0xf9};
    std::vector<std::uint8_t> key(42);
    ASSERT_TRUE(crypto::HkdfSha256(secret, salt, info, key));
    EXPECT_EQ(
        Hex(key.data(), key.size()),
        "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");
}

TEST(CryptoTest, GcmSealsAndRefusesAnythingChanged) {
    // Published GCM test case 14: zero key, nonce and block.
    const crypto::Aes256Key key{};
    const crypto::AesGcmNonce nonce{};
    const std::vector<std::uint8_t> block(16, 0);
    std::vector<std::uint8_t> sealed;
    ASSERT_TRUE(crypto::Aes256GcmSeal(key, nonce, {}, block, sealed));
    EXPECT_EQ(Hex(sealed.data(), sealed.size()),
              "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919");

    std::vector<std::uint8_t> plain;
    ASSERT_TRUE(crypto::Aes256GcmOpen(key, nonce, {}, sealed, plain));
    EXPECT_EQ(plain, block);

    std::vector<std::uint8_t> changed = sealed;
    changed[3] ^= 1;
    EXPECT_FALSE(crypto::Aes256GcmOpen(key, nonce, {}, changed, plain));
    EXPECT_TRUE(plain.empty());
    const std::vector<std::uint8_t> header = Bytes("SDP1");
    EXPECT_FALSE(crypto::Aes256GcmOpen(key, nonce, header, sealed, plain));
    changed.assign(sealed.begin(), sealed.end() - 1);
    EXPECT_FALSE(crypto::Aes256GcmOpen(key, nonce, {}, changed, plain));
    EXPECT_FALSE(crypto::Aes256GcmOpen(key, nonce, {}, std::vector<std::uint8_t>(15), plain));

    // Nothing to encrypt still carries a tag that is checked.
    sealed.clear();
    ASSERT_TRUE(crypto::Aes256GcmSeal(key, nonce, {}, {}, sealed));
    EXPECT_EQ(Hex(sealed.data(), sealed.size()), "530f8afbc74536b9a963b4f1c4cb738b");
    EXPECT_TRUE(crypto::Aes256GcmOpen(key, nonce, {}, sealed, plain));
}

}  // namespace
