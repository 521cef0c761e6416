// Known answers and the rules of the signature itself: RFC 5832's example, the byte
// orders, e = 0 taken as 1, the nonce taken modulo q, and fresh nonces from the platform.
#include "FixedNonce.h"
#include "GostVectors.h"
#include "gost/GostArith.h"
#include "gost/GostSign.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace orv::test;

struct Signed {
    std::uint8_t status;
    std::vector<std::uint8_t> signature;
};

Signed signWith(const std::vector<std::uint8_t>& oid, const Bytes32& key, const Bytes32& hash) {
    Signed out{0, std::vector<std::uint8_t>(64, 0xEE)};
    std::uint32_t capacity = 64;
    out.status = orv::gostSign(key.data(), 32, hash.data(), 32, out.signature.data(), &capacity,
                               oid.data(), static_cast<std::uint32_t>(oid.size()));
    EXPECT_EQ(capacity, 64u);
    return out;
}

std::string rHex(const Signed& s) { return hexFromLe(s.signature.data()); }
std::string sHex(const Signed& s) { return hexFromLe(s.signature.data() + 32); }

TEST(GostSign, Rfc5832ExampleGivesItsRAndS) {
    FixedNonce nonce({leFromHex(kRfcNonce)});
    const Signed s = signWith(oidTest(), leFromHex(kRfcKey), leFromHex(kRfcHash));
    ASSERT_EQ(s.status, 0);
    EXPECT_EQ(rHex(s), kRfcR);
    EXPECT_EQ(sHex(s), kRfcS);
    EXPECT_EQ(nonce.draws(), 1);
}

TEST(GostSign, KeyAndHashAreReadLittleEndian) {
    // The same bytes in the big-endian order of the RFC's text are other numbers, and
    // must give another signature.
    Bytes32 keyBe = leFromHex(kRfcKey), hashBe = leFromHex(kRfcHash);
    std::reverse(keyBe.begin(), keyBe.end());
    std::reverse(hashBe.begin(), hashBe.end());
    FixedNonce nonce({leFromHex(kRfcNonce)});
    const Signed s = signWith(oidTest(), keyBe, hashBe);
    ASSERT_EQ(s.status, 0);
    EXPECT_EQ(rHex(s), kRfcR);  // r depends on the nonce only
    EXPECT_NE(sHex(s), kRfcS);
}

// Hashes whose value reduces to 0 modulo q are signed as e = 1, exactly like hash 1 and
// hash q + 1.
struct HashCase {
    const char* name;
    std::vector<std::uint8_t> oid;
    const char* q;
};

class GostHashZero : public ::testing::TestWithParam<HashCase> {};

TEST_P(GostHashZero, MultiplesOfQSignAsOne) {
    const HashCase& c = GetParam();
    const Bytes32 key = leFromHex("2BB312A43BD2CE6E0D020613C857ACDDCFBF061E91E5F2C3F32447C259F39B2C");
    const Bytes32 nonce = leFromHex("00000000000000000000000000000000000000000000000000000000DEADBEEF");
    const Bytes32 q = leFromHex(c.q);
    Bytes32 qPlus1 = q;
    qPlus1[0] = static_cast<std::uint8_t>(qPlus1[0] + 1);  // q is odd: no carry
    Bytes32 one{};
    one[0] = 1;

    FixedNonce n({nonce, nonce, nonce, nonce});
    const Signed ref = signWith(c.oid, key, one);
    ASSERT_EQ(ref.status, 0);
    for (const Bytes32& hash : {Bytes32{}, q, qPlus1}) {
        const Signed s = signWith(c.oid, key, hash);
        ASSERT_EQ(s.status, 0);
        EXPECT_EQ(s.signature, ref.signature) << hexFromLe(hash.data());
    }
}

INSTANTIATE_TEST_SUITE_P(AllSets, GostHashZero,
                         ::testing::Values(HashCase{"T", oidTest(), kQTest}, HashCase{"A", oidA(), kQA},
                                           HashCase{"B", oidB(), kQB}, HashCase{"C", oidC(), kQC}),
                         [](const ::testing::TestParamInfo<HashCase>& i) { return std::string(i.param.name); });

TEST(GostSign, NonceIsTakenModuloQ) {
    // RFC nonce + q still fits in 32 bytes for the test set; it must sign like the nonce.
    const std::string kPlusQ = "F7105C9B20BCD3122823C8CF6FCC7B96BEE1C22D7BF2E13B158A8E5ECFA9E066";
    FixedNonce nonce({leFromHex(kPlusQ)});
    const Signed s = signWith(oidTest(), leFromHex(kRfcKey), leFromHex(kRfcHash));
    ASSERT_EQ(s.status, 0);
    EXPECT_EQ(rHex(s), kRfcR);
    EXPECT_EQ(sHex(s), kRfcS);
}

TEST(GostSign, NonceZeroModuloQFailsWith17AndLeavesTheBuffer) {
    for (const Bytes32& k : {Bytes32{}, leFromHex(kQTest)}) {
        FixedNonce nonce({k});
        const Signed s = signWith(oidTest(), leFromHex(kRfcKey), leFromHex(kRfcHash));
        EXPECT_EQ(s.status, 17);
        EXPECT_EQ(s.signature, std::vector<std::uint8_t>(64, 0xEE));
        EXPECT_EQ(nonce.draws(), 1);  // no second draw
    }
}

TEST(GostSign, AllCurvesSignAfterATestSetSignature) {
    // The reduction follows the letter of the current call, whatever the previous one was.
    FixedNonce nonce({leFromHex(kRfcNonce), leFromHex(kRfcNonce), leFromHex(kRfcNonce)});
    const Signed a1 = signWith(oidA(), leFromHex(kRfcKey), leFromHex(kRfcHash));
    const Signed t = signWith(oidTest(), leFromHex(kRfcKey), leFromHex(kRfcHash));
    const Signed a2 = signWith(oidA(), leFromHex(kRfcKey), leFromHex(kRfcHash));
    EXPECT_EQ(rHex(t), kRfcR);
    EXPECT_EQ(a1.signature, a2.signature);
    EXPECT_NE(a1.signature, t.signature);
}

// ---- the platform's generator (CryptoAPI under Windows, getrandom on Linux) ----

// (a * b) mod q on little-endian words, through the engine's own long division.
std::array<std::uint32_t, 8> mulMod(const std::uint32_t* a, const std::uint32_t* b, const std::uint32_t* q) {
    std::uint32_t prod[16] = {};
    for (int i = 0; i < 8; ++i) {
        std::uint64_t carry = 0;
        for (int j = 0; j < 8; ++j) {
            const std::uint64_t t = std::uint64_t(a[i]) * b[j] + prod[i + j] + carry;
            prod[i + j] = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        prod[i + 8] = static_cast<std::uint32_t>(carry);
    }
    std::array<std::uint32_t, 8> out{};
    EXPECT_EQ(orv::gost::bnMod(out.data(), prod, 16, q, 8), 0);
    return out;
}

std::array<std::uint32_t, 8> words(const std::uint8_t* le) {
    std::array<std::uint32_t, 8> w{};
    for (int i = 0; i < 32; ++i)
        w[i / 4] |= std::uint32_t(le[i]) << (8 * (i % 4));
    return w;
}

Bytes32 bytes(const std::array<std::uint32_t, 8>& w) {
    Bytes32 b{};
    for (int i = 0; i < 32; ++i)
        b[i] = static_cast<std::uint8_t>(w[i / 4] >> (8 * (i % 4)));
    return b;
}

TEST(GostSign, PlatformNonceSignaturesAreFreshAndConsistent) {
    // With the real generator: two signatures of one input differ, and each is the
    // signature of the nonce it implies, k = (s - r*d) / e mod q (re-signed with that
    // nonce fixed, it comes out identical).
    const Bytes32 key = leFromHex("0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF");
    const Bytes32 hash = leFromHex("00112233445566778899AABBCCDDEEFF00112233445566778899AABBCCDDEEFF");
    const Signed s1 = signWith(oidA(), key, hash);
    const Signed s2 = signWith(oidA(), key, hash);
    ASSERT_EQ(s1.status, 0);
    ASSERT_EQ(s2.status, 0);
    EXPECT_NE(s1.signature, s2.signature);

    const auto q = words(leFromHex(kQA).data());
    for (const Signed* sig : {&s1, &s2}) {
        const auto r = words(sig->signature.data());
        const auto s = words(sig->signature.data() + 32);
        const auto d = words(key.data());
        std::array<std::uint32_t, 8> e{};
        ASSERT_EQ(orv::gost::bnMod(e.data(), words(hash.data()).data(), 8, q.data(), 8), 0);
        const auto rd = mulMod(r.data(), d.data(), q.data());
        // s - r*d mod q
        std::uint32_t diff[9] = {};
        std::int64_t borrow = 0;
        for (int i = 0; i < 8; ++i) {
            std::int64_t t = std::int64_t(s[i]) - rd[i] + borrow;
            borrow = t < 0 ? -1 : 0;
            diff[i] = static_cast<std::uint32_t>(t);
        }
        if (borrow) {
            std::uint64_t carry = 0;
            for (int i = 0; i < 8; ++i) {
                const std::uint64_t t = std::uint64_t(diff[i]) + q[i] + carry;
                diff[i] = static_cast<std::uint32_t>(t);
                carry = t >> 32;
            }
        }
        orv::gost::Fe eFe, qFe, eInvFe;
        orv::gost::limbsFromWords(eFe, e.data(), 4);
        orv::gost::limbsFromWords(qFe, q.data(), 4);
        ASSERT_EQ(orv::gost::gostModInverse(eInvFe, eFe, qFe), 0);
        std::uint32_t eInv[8];
        orv::gost::wordsFromLimbs(eInv, eInvFe, 4);
        const auto k = mulMod(diff, eInv, q.data());

        FixedNonce nonce({bytes(k)});
        const Signed again = signWith(oidA(), key, hash);
        ASSERT_EQ(again.status, 0);
        EXPECT_EQ(again.signature, sig->signature);
    }
}

} // namespace
