// Independent verification: every signature the engine makes verifies under Botan's
// GOST R 34.10-2001 against the public key d*P that Botan computes itself, on all four
// parameter sets, for a table of keys and hashes at the edges (hash 0, q, keys around q,
// keys above q that the engine does not reduce first) and random ones.
#include "FixedNonce.h"
#include "GostVectors.h"
#include "gost/GostSign.h"

#include <botan/auto_rng.h>
#include <botan/ec_group.h>
#include <botan/gost_3410.h>
#include <botan/pubkey.h>
#include <botan/reducer.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

using namespace orv::test;
using Botan::BigInt;

struct Curve {
    const char* name;
    std::vector<std::uint8_t> oid;
    // Explicit values of RFC 4357 / 5832 (big-endian hex); verify_group checks that they
    // make a curve whose base point has order q. The A set also exists in Botan by name.
    const char *p, *a, *b, *x, *y, *q;
};

const Curve kCurves[] = {
    {"T", oidTest(), "0x8000000000000000000000000000000000000000000000000000000000000431", "0x7",
     "0x5FBFF498AA938CE739B8E022FBAFEF40563F6E6A3472FC2A514C0CE9DAE23B7E", "0x2",
     "0x08E2A8A0E65147D4BD6316030E16D19C85C97F0A9CA267122B96ABBCEA7E8FC8",
     "0x8000000000000000000000000000000150FE8A1892976154C59CFC193ACCF5B3"},
    {"A", oidA(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
    {"B", oidB(), "0x8000000000000000000000000000000000000000000000000000000000000C99",
     "0x8000000000000000000000000000000000000000000000000000000000000C96",
     "0x3E1AF419A269A5F866A7D3C25C3DF80AE979259373FF2B182F49D4CE7E1BBC8B", "0x1",
     "0x3FA8124359F96680B83D1C3EB2C070E5C545C9858D03ECFB744BF8D717717EFC",
     "0x800000000000000000000000000000015F700CFFF1A624E5E497161BCC8A198F"},
    {"C", oidC(), "0x9B9F605F5A858107AB1EC85E6B41C8AACF846E86789051D37998F7B9022D759B",
     "0x9B9F605F5A858107AB1EC85E6B41C8AACF846E86789051D37998F7B9022D7598", "0x805A", "0x0",
     "0x41ECE55743711A8C3CBF3783CD08C0EE4D4DC440D4641A8F366E550DFDB3BB67",
     "0x9B9F605F5A858107AB1EC85E6B41C8AA582CA3511EDDFB74F02F3A6598980BB9"},
};

Botan::EC_Group groupOf(const Curve& c) {
    if (!c.p)
        return Botan::EC_Group("gost_256A");  // 1.2.643.2.2.35.1 in Botan's own table
    return Botan::EC_Group(BigInt(c.p), BigInt(c.a), BigInt(c.b), BigInt(c.x), BigInt(c.y), BigInt(c.q), BigInt(1));
}

// The engine's numbers are 32-byte little-endian strings; Botan's BigInt decodes big-endian.
BigInt fromLe(const std::uint8_t* le) {
    std::vector<std::uint8_t> be(le, le + 32);
    std::reverse(be.begin(), be.end());
    return BigInt::decode(be);
}

Bytes32 toLe(const BigInt& v) {
    const auto be = BigInt::encode_1363(v, 32);
    Bytes32 le{};
    std::copy(be.rbegin(), be.rend(), le.begin());
    return le;
}

class GostAgainstBotan : public ::testing::TestWithParam<Curve> {
protected:
    void SetUp() override {
        group_ = std::make_unique<Botan::EC_Group>(groupOf(GetParam()));
        ASSERT_TRUE(group_->verify_group(rng_, true)) << "parameter set " << GetParam().name;
        q_ = group_->get_order();
    }

    std::vector<std::uint8_t> sign(const Bytes32& key, const Bytes32& hash, std::uint8_t expected = 0) {
        std::vector<std::uint8_t> sig(64, 0);
        std::uint32_t capacity = 64;
        const auto& oid = GetParam().oid;
        EXPECT_EQ(orv::gostSign(key.data(), 32, hash.data(), 32, sig.data(), &capacity, oid.data(), 9), expected);
        return sig;
    }

    // Botan's GOST verifier reads the message as a little-endian number (as the engine
    // does: no conversion of the hash) and wants the signature as s then r, each
    // big-endian; the engine writes r then s, each little-endian.
    bool verifies(const BigInt& d, const Bytes32& hash, const std::vector<std::uint8_t>& sig) {
        const Botan::PointGFp pub = group_->get_base_point() * group_->mod_order(d);
        const Botan::GOST_3410_PublicKey key(*group_, pub);
        Botan::PK_Verifier verifier(key, "Raw");
        std::vector<std::uint8_t> botanSig(64);
        std::reverse_copy(sig.begin() + 32, sig.end(), botanSig.begin());        // s, big-endian
        std::reverse_copy(sig.begin(), sig.begin() + 32, botanSig.begin() + 32);  // r, big-endian
        return verifier.verify_message(hash.data(), hash.size(), botanSig.data(), botanSig.size());
    }

    Botan::AutoSeeded_RNG rng_;
    std::unique_ptr<Botan::EC_Group> group_;
    BigInt q_;
};

TEST_P(GostAgainstBotan, KeysAndHashesAtTheEdgesVerify) {
    const BigInt two256 = BigInt::power_of_2(256);
    std::vector<BigInt> keys = {1, 2, q_ - 1, q_ - 2, two256 - 1};
    if (q_ + 1 < two256)
        keys.push_back(q_ + 1);  // above q: used as given, the same signature as key 1
    for (int i = 0; i < 2; ++i)
        keys.push_back(BigInt::random_integer(rng_, 1, two256));
    std::vector<BigInt> hashes = {0, q_, 1, q_ - 1, q_ + 1, two256 - 1};
    for (int i = 0; i < 2; ++i)
        hashes.push_back(BigInt::random_integer(rng_, 0, two256));

    for (const BigInt& d : keys) {
        if (group_->mod_order(d) == 0)
            continue;  // no public key to check against
        for (const BigInt& h : hashes) {
            const Bytes32 key = toLe(d), hash = toLe(h);
            const auto sig = sign(key, hash);
            const BigInt r = fromLe(sig.data()), s = fromLe(sig.data() + 32);
            EXPECT_TRUE(r > 0 && r < q_ && s > 0 && s < q_);
            EXPECT_TRUE(verifies(d, hash, sig)) << "d=" << std::hex << d << " h=" << h;
            // The check is not vacuous: another key's public point rejects it.
            EXPECT_FALSE(verifies(d + 1, hash, sig)) << "d=" << std::hex << d << " h=" << h;
        }
    }
}

TEST_P(GostAgainstBotan, TwoSignaturesOfOneInputDifferAndBothVerify) {
    const BigInt d = BigInt::random_integer(rng_, 1, q_);
    const Bytes32 key = toLe(d), hash = toLe(BigInt::random_integer(rng_, 0, q_));
    const auto first = sign(key, hash), second = sign(key, hash);
    EXPECT_NE(first, second);
    EXPECT_TRUE(verifies(d, hash, first));
    EXPECT_TRUE(verifies(d, hash, second));
}

TEST_P(GostAgainstBotan, ZeroSTakesANewNonce) {
    // With k1 fixed, r1 = x(k1*P) mod q, and d = -k1*e/r1 mod q makes s = r1*d + k1*e = 0:
    // the engine must draw again and sign with k2.
    const BigInt k1("0x1D1A5D4A33CF6D2B2C1A4E2F3F2E6A8F112233445566778899AABBCCDDEEFF01");
    const BigInt k2("0x0F0E0D0C0B0A09080706050403020100FFEEDDCCBBAA99887766554433221100");
    const BigInt e("0x2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5");
    const Botan::Modular_Reducer modQ(q_);
    const BigInt r1 = modQ.reduce((group_->get_base_point() * k1).get_affine_x());
    const BigInt d = modQ.reduce(q_ - modQ.multiply(modQ.multiply(k1, e), Botan::inverse_mod(r1, q_)));
    const Bytes32 key = toLe(d), hash = toLe(e);

    std::vector<std::uint8_t> retried, direct;
    {
        FixedNonce nonce({toLe(k1), toLe(k2)});
        retried = sign(key, hash);
        EXPECT_EQ(nonce.draws(), 2);
    }
    {
        FixedNonce nonce({toLe(k2)});
        direct = sign(key, hash);
    }
    EXPECT_EQ(retried, direct);
    EXPECT_TRUE(verifies(d, hash, retried));
}

INSTANTIATE_TEST_SUITE_P(AllSets, GostAgainstBotan, ::testing::ValuesIn(kCurves),
                         [](const ::testing::TestParamInfo<Curve>& i) { return std::string(i.param.name); });

} // namespace
