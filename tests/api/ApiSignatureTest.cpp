// Every signature the page gets verifies under Botan's GOST R 34.10-2001, an implementation
// independent of the token's and of ours, with the public key and the hash as the page has
// them: all numbers read most significant byte first.

#include "ApiTokenFixture.h"

#include <botan/auto_rng.h>
#include <botan/bigint.h>
#include <botan/ec_group.h>
#include <botan/gost_3410.h>
#include <botan/hex.h>
#include <botan/pubkey.h>

#include <algorithm>
#include <vector>

namespace {

using namespace orv;
using namespace orv::test;
using Botan::BigInt;
using FB::variant;

const Botan::EC_Group& cryptoProA() {
    static const Botan::EC_Group group("gost_256A");  // 1.2.643.2.2.35.1
    return group;
}

std::vector<std::uint8_t> hexBytes(const std::string& text) { return Botan::hex_decode(text); }

std::string hexText(const BigInt& value) {
    return Botan::hex_encode(BigInt::encode_1363(value, 32));  // upper case
}

// The public key text: X then Y.
Botan::PointGFp pointOf(const std::string& publicKeyText) {
    const auto bytes = hexBytes(publicKeyText);
    return cryptoProA().point(BigInt::decode(bytes.data(), 32), BigInt::decode(bytes.data() + 32, 32));
}

// Botan's verifier reads the message as a little-endian number and the signature as s then r.
bool verifies(const Botan::PointGFp& publicKey, const std::string& hashText, const std::string& signatureText) {
    if (!publicKey.on_the_curve())
        return false;
    const Botan::GOST_3410_PublicKey key(cryptoProA(), publicKey);
    Botan::PK_Verifier verifier(key, "Raw");
    auto message = hexBytes(hashText);
    std::reverse(message.begin(), message.end());
    const auto rs = hexBytes(signatureText);
    std::vector<std::uint8_t> sr(rs.begin() + 32, rs.end());
    sr.insert(sr.end(), rs.begin(), rs.begin() + 32);
    return verifier.verify_message(message, sr);
}

using ApiSignature = ApiToken;

TEST_F(ApiSignature, TokenSignatureVerifiesWithThePublicKeyAndThePagesHash) {
    Botan::AutoSeeded_RNG rng;
    present();
    const std::string publicKey = generate("signer");
    const std::string other = generate("other");
    ASSERT_FALSE(publicKey.empty());
    ASSERT_FALSE(other.empty());
    EXPECT_TRUE(isText(call("olvGetPublicKey", {variant("signer")}), publicKey));
    const Botan::PointGFp point = pointOf(publicKey);
    ASSERT_TRUE(point.on_the_curve()) << publicKey;

    const BigInt q = cryptoProA().get_order();
    std::vector<std::string> hashes = {countingHash(), hexText(1), hexText(q - 1), hexText(q + 5),
                                       std::string(64, 'F')};
    for (int i = 0; i < 3; ++i)
        hashes.push_back(hexText(BigInt::random_integer(rng, 0, BigInt::power_of_2(256))));
    hashes.push_back("0a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f9");  // lower case

    for (const std::string& hash : hashes) {
        SCOPED_TRACE(hash);
        const variant signature = call("olvSign", {variant("signer"), variant(hash)});
        ASSERT_TRUE(isKeyText(signature));
        const std::string text = signature.cast<std::string>();
        EXPECT_TRUE(verifies(point, hash, text));
        // Not vacuous: another hash, or another container's key, does not verify.
        std::string changed = hash;
        changed[63] = changed[63] == '1' ? '2' : '1';
        EXPECT_FALSE(verifies(point, changed, text));
        EXPECT_FALSE(verifies(pointOf(other), hash, text));
    }
    EXPECT_TRUE(boxes_.boxes().empty());
}

// The private key as the page writes it: least significant byte first, in the letters.
std::string pageKeyText(const BigInt& d) {
    static const char letters[] = "KMBNPFRCUEHDJALX";
    auto bytes = BigInt::encode_1363(d, 32);
    std::reverse(bytes.begin(), bytes.end());
    std::string text;
    for (std::uint8_t b : bytes) {
        text += letters[b >> 4];
        text += letters[b & 15];
    }
    return text;
}

TEST_F(ApiSignature, SoftwareSignatureVerifiesWithThePrivateKeysPublicKey) {
    Botan::AutoSeeded_RNG rng;
    const BigInt q = cryptoProA().get_order();
    std::vector<BigInt> keys = {1, q - 1};
    for (int i = 0; i < 3; ++i)
        keys.push_back(BigInt::random_integer(rng, 1, q));
    const std::vector<std::string> hashes = {countingHash(), hexText(BigInt::random_integer(rng, 0, q))};

    standin().reset();
    for (const BigInt& d : keys) {
        const Botan::PointGFp publicKey = cryptoProA().get_base_point() * d;
        for (const std::string& hash : hashes) {
            SCOPED_TRACE(pageKeyText(d) + " / " + hash);
            const variant signature = call("olvRepair", {variant(pageKeyText(d)), variant(hash)});
            ASSERT_TRUE(isKeyText(signature));
            EXPECT_TRUE(verifies(publicKey, hash, signature.cast<std::string>()));
            EXPECT_FALSE(verifies(cryptoProA().get_base_point() * (d + 1), hash, signature.cast<std::string>()));
        }
    }
    // Digits pass the alphabet unchanged: a key written in digits only is read as plain hex.
    const std::string digits = "1029384756102938475610293847561029384756102938475610293847561029";
    std::vector<std::uint8_t> le = hexBytes(digits);
    std::reverse(le.begin(), le.end());
    const BigInt d = BigInt::decode(le);
    const variant signature = call("olvRepair", {variant(digits), variant(countingHash())});
    ASSERT_TRUE(isKeyText(signature));
    EXPECT_TRUE(verifies(cryptoProA().get_base_point() * d, countingHash(), signature.cast<std::string>()));

    EXPECT_EQ(standin().callCount(), 0u);  // no token call
    EXPECT_EQ(prompts(), 0);
    EXPECT_TRUE(boxes_.boxes().empty());
}

} // namespace
