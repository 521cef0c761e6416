// What a signature leaves behind in the engine's static work area, and the blinded
// inversion of Z.
#include "FixedNonce.h"
#include "GostVectors.h"
#include "gost/GostArith.h"
#include "gost/GostCt.h"
#include "gost/GostSign.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace orv::gost;
using namespace orv::test;

using Area = std::vector<unsigned char>;

Area snapshot() {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&gostWork);
    return Area(bytes, bytes + sizeof gostWork);
}

// Offsets where any 8 bytes of `secret` (at any alignment) appear in the area.
std::vector<std::size_t> findPieces(const Area& area, const unsigned char* secret, std::size_t size) {
    std::vector<std::size_t> found;
    for (std::size_t s = 0; s + 8 <= size; ++s)
        for (std::size_t a = 0; a + 8 <= area.size(); ++a)
            if (std::memcmp(&area[a], secret + s, 8) == 0)
                found.push_back(a);
    return found;
}

struct Attempt {
    const char* name;
    std::string key;    // big-endian hex
    std::string nonce;  // big-endian hex; empty: the draw fails
    std::uint8_t status;
};

class GostSecrets : public ::testing::Test {
protected:
    void TearDown() override { gostResetWorkArea(); }

    std::uint8_t sign(const Attempt& a) {
        const Bytes32 key = leFromHex(a.key), hash = leFromHex(kRfcHash);
        std::uint8_t sig[64];
        std::uint32_t capacity = 64;
        const auto oid = oidA();
        if (a.nonce.empty()) {
            FixedNonce failing = FixedNonce::failing();
            return orv::gostSign(key.data(), 32, hash.data(), 32, sig, &capacity, oid.data(), 9);
        }
        FixedNonce nonce({leFromHex(a.nonce)});
        return orv::gostSign(key.data(), 32, hash.data(), 32, sig, &capacity, oid.data(), 9);
    }
};

TEST_F(GostSecrets, NothingOfTheKeyOrNonceStaysInTheWorkArea) {
    // The area after signing with one key and nonce is the area after signing with
    // another, on every way out: nothing in it depends on either. What stays (the curve,
    // the letter, the table of doublings of the base point) is public.
    const Attempt first = {"first", kRfcKey, kRfcNonce, 0};
    ASSERT_EQ(sign(first), 0);
    const Area after = snapshot();
    const Attempt others[] = {
        {"other key and nonce", "0F1E2D3C4B5A69788796A5B4C3D2E1F00F1E2D3C4B5A69788796A5B4C3D2E1F0",
         "6C1D0E9F8A7B6C5D4E3F2A1B0C9D8E7F6A5B4C3D2E1F0A9B8C7D6E5F4A3B2C1D", 0},
        {"nonce 0 (status 17)", kRfcKey, std::string(64, '0'), 17},
        {"failed draw (status 2)", kRfcKey, "", 2},
    };
    for (const Attempt& a : others) {
        SCOPED_TRACE(a.name);
        ASSERT_EQ(sign(a), a.status);
        const Area area = snapshot();
        std::size_t differing = 0, firstDifference = area.size();
        for (std::size_t i = 0; i < area.size(); ++i)
            if (area[i] != after[i]) {
                ++differing;
                firstDifference = std::min(firstDifference, i);
            }
        EXPECT_EQ(differing, 0u) << "first at offset " << firstDifference << " of " << area.size();
    }
}

TEST_F(GostSecrets, TheAreaHoldsNoPieceOfTheKeyTheNonceOrTheirProducts) {
    const Attempt a = {"rfc", kRfcKey, kRfcNonce, 0};
    ASSERT_EQ(sign(a), 0);
    const Area area = snapshot();
    const Bytes32 key = leFromHex(kRfcKey), nonce = leFromHex(kRfcNonce);
    EXPECT_TRUE(findPieces(area, key.data(), key.size()).empty());
    EXPECT_TRUE(findPieces(area, nonce.data(), nonce.size()).empty());  // below q: k itself
    // k * e, the product that gave the key away: schoolbook, bytes little-endian.
    const Bytes32 hash = leFromHex(kRfcHash);
    std::uint32_t k[8], e[8], q[8], product[16] = {};
    wordsFromBytes(k, nonce.data(), 32);
    wordsFromBytes(e, hash.data(), 32);
    wordsFromBytes(q, leFromHex(kQA).data(), 32);
    std::uint32_t eModQ[8];
    ASSERT_EQ(bnMod(eModQ, e, 8, q, 8), 0);
    for (int i = 0; i < 8; ++i) {
        std::uint64_t carry = 0;
        for (int j = 0; j < 8; ++j) {
            const std::uint64_t t = std::uint64_t(k[i]) * eModQ[j] + product[i + j] + carry;
            product[i + j] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        product[i + 8] = static_cast<std::uint32_t>(carry);
    }
    unsigned char productBytes[64];
    bytesFromWords(productBytes, product, 16);
    EXPECT_TRUE(findPieces(area, productBytes, sizeof productBytes).empty());
}

// ---- the inversion of Z ----

class GostBlindedInversion : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(signRfcExampleOnSetA(), 0);
    }
    void TearDown() override { gostResetWorkArea(); }
};

TEST_F(GostBlindedInversion, TheGcdIsGivenZTimesAFreshFactorAndTheResultIsUnchanged) {
    std::uint32_t k[8];
    wordsFromBytes(k, leFromHex(kRfcNonce).data(), 32);
    ASSERT_EQ(gostScalarMul(k), 0);
    const GostPoint projective = gostWork.R;
    ASSERT_FALSE(isZeroLimbs(projective.Z, 4));

    // What the plain inversion gives.
    Fe zInv, x, y;
    ASSERT_EQ(gostModInverse(zInv, projective.Z, gostWork.p), 0);
    gostModMul(x, projective.X, zInv);
    gostModMul(y, projective.Y, zInv);

    std::vector<std::vector<std::uint64_t>> blinds;
    for (int round = 0; round < 2; ++round) {
        gostWork.R = projective;
        ASSERT_EQ(gostToAffine(), 0);
        EXPECT_EQ(std::vector<std::uint64_t>(gostWork.R.X, gostWork.R.X + 4), std::vector<std::uint64_t>(x, x + 4));
        EXPECT_EQ(std::vector<std::uint64_t>(gostWork.R.Y, gostWork.R.Y + 4), std::vector<std::uint64_t>(y, y + 4));
        // The gcd's operand is Z * b for the factor b of this call, never Z itself.
        Fe zb;
        gostModMul(zb, projective.Z, gostWork.blind);
        EXPECT_EQ(std::vector<std::uint64_t>(gostWork.zb, gostWork.zb + 4), std::vector<std::uint64_t>(zb, zb + 4));
        EXPECT_FALSE(ctEqual(gostWork.zb, projective.Z, 4));
        blinds.emplace_back(gostWork.blind, gostWork.blind + 4);
    }
    EXPECT_NE(blinds[0], blinds[1]);  // a fresh factor every time
}

} // namespace
