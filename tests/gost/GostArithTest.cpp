// The arithmetic under gostSign, where a signature alone cannot show a fault: the
// CryptoPro-A reduction against the long division, the long division against a bit-serial
// reference, the inverse's statuses, the point operations' special cases, the overflow
// diagnostics of the binary gcd, and the work area's reset.
#include "FixedNonce.h"
#include "GostVectors.h"
#include "gost/GostArith.h"
#include "gost/GostDivide.h"
#include "gost/GostReduceA.h"
#include "gost/GostSign.h"
#include "logging.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using namespace orv::gost;
using namespace orv::test;

// value mod modulus one bit at a time: slow, obviously right.
std::vector<std::uint32_t> referenceMod(const std::vector<std::uint32_t>& value, const std::vector<std::uint32_t>& mod) {
    std::vector<std::uint32_t> rem(mod.size() + 1, 0);
    for (std::size_t bit = value.size() * 32; bit-- > 0;) {
        for (std::size_t i = rem.size(); i-- > 0;)  // rem = 2*rem + bit
            rem[i] = (rem[i] << 1) | (i > 0 ? rem[i - 1] >> 31 : (value[bit / 32] >> (bit % 32)) & 1);
        bool geq = rem.back() != 0;
        if (!geq) {
            geq = true;
            for (std::size_t i = mod.size(); i-- > 0;)
                if (rem[i] != mod[i]) {
                    geq = rem[i] > mod[i];
                    break;
                }
        }
        if (geq) {
            std::int64_t borrow = 0;
            for (std::size_t i = 0; i < rem.size(); ++i) {
                const std::int64_t t = std::int64_t(rem[i]) - (i < mod.size() ? mod[i] : 0) + borrow;
                rem[i] = static_cast<std::uint32_t>(t);
                borrow = t < 0 ? -1 : 0;
            }
        }
    }
    rem.pop_back();
    return rem;
}

TEST(BnMod, MatchesBitSerialReductionForEveryShape) {
    std::uint64_t seed = 0x9E3779B97F4A7C15ull;
    const struct {
        std::size_t valueWords, modWords, modTopZeroWords;
    } shapes[] = {{17, 8, 0}, {16, 8, 0}, {10, 8, 0}, {8, 8, 0}, {8, 8, 3}, {8, 1, 0}, {9, 2, 0}, {3, 8, 0}, {16, 8, 7}};
    for (const auto& shape : shapes)
        for (int round = 0; round < 50; ++round) {
            std::vector<std::uint32_t> value(shape.valueWords), mod(shape.modWords);
            for (auto& w : value)
                w = static_cast<std::uint32_t>(nextRandom(seed));
            for (auto& w : mod)
                w = static_cast<std::uint32_t>(nextRandom(seed));
            for (std::size_t i = 0; i < shape.modTopZeroWords; ++i)
                mod[mod.size() - 1 - i] = 0;
            if (round % 5 == 0)  // all-ones dividends stress the quotient-digit corrections
                for (auto& w : value)
                    w = 0xFFFFFFFFu;
            if (round % 7 == 1)
                mod[mod.size() - 1 - shape.modTopZeroWords] = 0x80000000u;  // already normalised
            std::vector<std::uint32_t> rem(shape.modWords, 0xA5A5A5A5u);
            ASSERT_EQ(bnMod(rem.data(), value.data(), value.size(), mod.data(), mod.size()), 0);
            EXPECT_EQ(rem, referenceMod(value, mod)) << shape.valueWords << "/" << shape.modWords;
        }
}

TEST(GostDivideWord, MatchesTheDivisionInstruction) {
    // The divisors at the edges of the normalised range and random ones; dividends with the
    // high word at 0, 1, d - 1 and random, the low word at 0, all ones and random.
    std::uint64_t seed = 0xD1B54A32D192ED03ull;
    std::vector<std::uint32_t> divisors = {0x80000000u, 0x80000001u, 0xFFFFFFFFu, 0xFFFFFFFEu, 0xC0000000u};
    for (int i = 0; i < 60; ++i)
        divisors.push_back(static_cast<std::uint32_t>(nextRandom(seed)) | 0x80000000u);
    for (std::uint32_t d : divisors) {
        const std::uint32_t v = gostReciprocal(d);
        ASSERT_EQ(v, static_cast<std::uint32_t>(~0ull / d - (1ull << 32))) << std::hex << d;
        std::vector<std::uint32_t> highs = {0, 1, d - 1, d >> 1};
        std::vector<std::uint32_t> lows = {0, 1, 0xFFFFFFFFu, d, d - 1};
        for (int i = 0; i < 40; ++i) {
            highs.push_back(static_cast<std::uint32_t>(nextRandom(seed) % d));
            lows.push_back(static_cast<std::uint32_t>(nextRandom(seed)));
        }
        for (std::uint32_t u1 : highs)
            for (std::uint32_t u0 : lows) {
                const std::uint64_t num = std::uint64_t(u1) << 32 | u0;
                std::uint32_t rem = 0;
                const std::uint32_t q = gostDivideWord(u1, u0, d, v, rem);
                ASSERT_EQ(q, num / d) << std::hex << num << " / " << d;
                ASSERT_EQ(rem, num % d) << std::hex << num << " % " << d;
            }
    }
}

TEST(BnMod, ZeroModulusFailsWith15AndZeroValueGivesZero) {
    const std::uint32_t value[8] = {1, 2, 3, 4, 5, 6, 7, 8}, zero[8] = {};
    std::uint32_t rem[8];
    EXPECT_EQ(bnMod(rem, value, 8, zero, 8), 15);
    const std::uint32_t q[8] = {0xB761B893, 0x45841B09, 0x995AD100, 0x6C611070, ~0u, ~0u, ~0u, ~0u};
    ASSERT_EQ(bnMod(rem, zero, 8, q, 8), 0);
    EXPECT_EQ(std::vector<std::uint32_t>(rem, rem + 8), std::vector<std::uint32_t>(8, 0));
}

TEST(GostReduceA, AgreesWithTheLongDivisionAtTheEdges) {
    const std::vector<std::uint32_t> p = {0xFFFFFD97u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u};
    std::vector<std::vector<std::uint64_t>> inputs = {
        {0, 0, 0, 0, 0, 0, 0, 0},
        {0xFFFFFFFFFFFFFD97ull, ~0ull, ~0ull, ~0ull, 0, 0, 0, 0},  // p
        {0xFFFFFFFFFFFFFD96ull, ~0ull, ~0ull, ~0ull, 0, 0, 0, 0},  // p - 1
        {~0ull, ~0ull, ~0ull, ~0ull, 0, 0, 0, 0},                  // 2^256 - 1
        {0, 0, 0, 0, 1, 0, 0, 0},                                  // 2^256
        {~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull, ~0ull},  // 2^512 - 1
        {0, 0, 0, 0, ~0ull, ~0ull, ~0ull, ~0ull},
        {~0ull - 617 * 617, ~0ull, ~0ull, ~0ull, 617, 0, 0, 0},    // carries in the second fold
    };
    std::uint64_t seed = 42;
    for (int i = 0; i < 200; ++i) {
        std::vector<std::uint64_t> v(8);
        for (auto& l : v)
            l = nextRandom(seed);
        inputs.push_back(v);
    }
    for (const auto& in : inputs) {
        Fe out;
        gostReduceA(out, in.data());
        std::uint32_t words[16], rem[8];
        wordsFromLimbs(words, in.data(), 8);
        ASSERT_EQ(bnMod(rem, words, 16, p.data(), 8), 0);
        std::uint32_t got[8];
        wordsFromLimbs(got, out, 4);
        EXPECT_EQ(std::vector<std::uint32_t>(got, got + 8), std::vector<std::uint32_t>(rem, rem + 8))
            << std::hex << in[7] << " " << in[0];
    }
}

TEST(GostModInverse, InvertsAndRefusesWhatHasNoInverse) {
    const Fe q = {0x45841B09B761B893ull, 0x6C611070995AD100ull, ~0ull, ~0ull};
    const Fe two255 = {0, 0, 0, 0x8000000000000000ull};
    const struct {
        Fe a, m;
        std::uint8_t status;
    } cases[] = {
        {{12345, 0, 0, 0}, {q[0], q[1], q[2], q[3]}, 0},
        {{q[0] - 1, q[1], q[2], q[3]}, {q[0], q[1], q[2], q[3]}, 0},  // -1
        {{3, 0, 0, 0}, {two255[0], two255[1], two255[2], two255[3]}, 0},  // even modulus
        {{~0ull, ~0ull, ~0ull, ~0ull}, {q[0], q[1], q[2], q[3]}, 0},      // a > m
        {{0, 0, 0, 0}, {q[0], q[1], q[2], q[3]}, 17},
        {{5, 0, 0, 0}, {0, 0, 0, 0}, 17},
        {{6, 0, 0, 0}, {9, 0, 0, 0}, 17},                                 // gcd 3
        {{q[0], q[1], q[2], q[3]}, {q[0], q[1], q[2], q[3]}, 17},         // a = m
        {{4, 0, 0, 0}, {two255[0], two255[1], two255[2], two255[3]}, 17}, // both even
    };
    for (const auto& c : cases) {
        Fe out = {0xDEAD, 0xBEEF, 1, 2};
        EXPECT_EQ(gostModInverse(out, c.a, c.m), c.status) << std::hex << c.a[0] << " mod " << c.m[0];
        if (c.status != 0) {
            EXPECT_TRUE(isZeroLimbs(out, 4));
            continue;
        }
        std::uint64_t wide[8];
        gostMulWide(wide, c.a, out);
        std::uint32_t words[16], mod[8], rem[8];
        wordsFromLimbs(words, wide, 8);
        wordsFromLimbs(mod, c.m, 4);
        ASSERT_EQ(bnMod(rem, words, 16, mod, 8), 0);
        EXPECT_EQ(std::vector<std::uint32_t>(rem, rem + 8), std::vector<std::uint32_t>({1, 0, 0, 0, 0, 0, 0, 0}));
        // and the inverse is reduced: out < m
        bool below = false;
        for (std::size_t i = 4; i-- > 0;)
            if (out[i] != c.m[i]) {
                below = out[i] < c.m[i];
                break;
            }
        EXPECT_TRUE(below);
    }
}

// ---- diagnostics of the binary gcd ----

class LogCapture {
public:
    LogCapture() {
        previous_ = FB::Log::setSink([this](const FB::Log::Record& r) { records_.push_back(r); });
    }
    ~LogCapture() { FB::Log::setSink(previous_); }
    const std::vector<FB::Log::Record>& records() const { return records_; }

private:
    std::vector<FB::Log::Record> records_;
    FB::Log::Sink previous_;
};

TEST(GostBinaryXgcd, CarriesOutOfTheWorkingWidthGoToTheLogWithTheirExactTexts) {
    // Operands at the top of the 288-bit working width make (A + y) and (B - x) carry out.
    std::uint64_t seed = 88172645463325252ull;
    LogCapture log;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 5; ++i) {
        XgcdValue x, y;
        for (std::size_t j = 0; j < kXgcdLimbs; ++j) {
            x[j] = nextRandom(seed);
            y[j] = nextRandom(seed);
        }
        x[4] = (x[4] & 0xFFFFFFFFu) | 0x80000000u;
        y[4] = (y[4] & 0xFFFFFFFFu) | 0x80000000u;
        x[0] |= 1;
        GostXgcdResult result;
        EXPECT_EQ(gostBinaryXgcd(x, y, result), 0);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // the log, not standard output
    const std::set<std::string> texts = {"fuck1", "fuck2", "fuck!!", "fuck3", "fuck4"};
    std::set<std::string> seen;
    for (const auto& r : log.records()) {
        EXPECT_EQ(r.category, "gost");
        EXPECT_EQ(r.level, FB::Log::Level::Warn);
        EXPECT_TRUE(texts.count(r.message)) << r.message;
        seen.insert(r.message);
    }
    EXPECT_TRUE(seen.count("fuck1") && seen.count("fuck2") && seen.count("fuck!!"));
}

TEST(GostBinaryXgcd, SignaturesLogNothing) {
    LogCapture log;
    FixedNonce nonce({leFromHex(kRfcNonce), leFromHex(kRfcNonce)});
    const Bytes32 key = leFromHex(kRfcKey), hash = leFromHex(kRfcHash);
    std::uint8_t sig[64];
    std::uint32_t capacity = 64;
    for (const auto& oid : {oidTest(), oidA()})
        ASSERT_EQ(orv::gostSign(key.data(), 32, hash.data(), 32, sig, &capacity, oid.data(), 9), 0);
    EXPECT_TRUE(log.records().empty());
}

TEST(GostBinaryXgcd, ZeroOperandsFailWith2) {
    const XgcdValue zero = {}, three = {3, 0, 0, 0, 0};
    GostXgcdResult result;
    EXPECT_EQ(gostBinaryXgcd(three, zero, result), 2);  // v = 0
    EXPECT_EQ(gostBinaryXgcd(zero, zero, result), 2);
}

// ---- points (work area loaded with a set by a real signature) ----

class GostPoints : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(signRfcExampleOnSetA(), 0);
        P = gostWork.base;
    }
    void TearDown() override { gostResetWorkArea(); }

    // Same affine point: X1*Z2 = X2*Z1 and Y1*Z2 = Y2*Z1.
    static bool samePoint(const GostPoint& a, const GostPoint& b) {
        Fe l, r;
        gostModMul(l, a.X, b.Z);
        gostModMul(r, b.X, a.Z);
        if (!ctEqual(l, r, 4))
            return false;
        gostModMul(l, a.Y, b.Z);
        gostModMul(r, b.Y, a.Z);
        return ctEqual(l, r, 4) != 0;
    }

    GostPoint P{};
};

TEST_F(GostPoints, SpecialCasesOfAdditionAndDoubling) {
    GostPoint negP = P, out{}, twoP{}, fourP{}, threeA{}, threeB{};
    const Fe zero = {0, 0, 0, 0};
    gostModSub(negP.Y, zero, P.Y);
    EXPECT_EQ(gostPointAdd(out, P, negP), 2);
    EXPECT_EQ(gostPointAddAffine(out, P, negP), 2);

    GostPoint flat = P;
    zeroLimbs(flat.Y, 4);
    EXPECT_EQ(gostPointDouble(out, flat), 2);

    ASSERT_EQ(gostPointDouble(twoP, P), 0);
    ASSERT_EQ(gostPointAdd(out, P, P), 0);  // equal points: the doubling
    EXPECT_TRUE(samePoint(out, twoP));
    ASSERT_EQ(gostPointAdd(fourP, twoP, twoP), 0);
    ASSERT_EQ(gostPointDouble(out, twoP), 0);
    EXPECT_TRUE(samePoint(out, fourP));
    ASSERT_EQ(gostPointAdd(threeA, twoP, P), 0);
    ASSERT_EQ(gostPointAddAffine(threeB, twoP, P), 0);
    EXPECT_TRUE(samePoint(threeA, threeB));
    EXPECT_FALSE(samePoint(threeA, fourP));
}

TEST_F(GostPoints, ScalarMultiplicationOfSmallAndExtremeScalars) {
    const Bytes32 q = leFromHex(kQA);
    std::uint32_t k[8] = {1};
    ASSERT_EQ(gostScalarMul(k), 0);
    ASSERT_EQ(gostToAffine(), 0);
    EXPECT_TRUE(ctEqual(gostWork.R.X, P.X, 4) && ctEqual(gostWork.R.Y, P.Y, 4));
    EXPECT_TRUE(isZeroLimbs(gostWork.R.Z, 4));

    wordsFromBytes(k, q.data(), 32);
    k[0] -= 1;  // q - 1: -P
    ASSERT_EQ(gostScalarMul(k), 0);
    ASSERT_EQ(gostToAffine(), 0);
    const Fe zeroFe = {0, 0, 0, 0};
    Fe negY;
    gostModSub(negY, zeroFe, P.Y);
    EXPECT_TRUE(ctEqual(gostWork.R.X, P.X, 4) && ctEqual(gostWork.R.Y, negY, 4));

    std::uint32_t zero[8] = {};
    ASSERT_EQ(gostScalarMul(zero), 0);  // R stays unset ...
    EXPECT_EQ(gostWork.rSet, 0u);
    EXPECT_EQ(gostToAffine(), 17);  // ... and its Z (cleared) has no inverse
}

TEST(GostWorkArea, ResetRestoresTheLoadTimeState) {
    FixedNonce nonce({leFromHex(kRfcNonce), leFromHex(kRfcNonce)});
    const Bytes32 key = leFromHex(kRfcKey), hash = leFromHex(kRfcHash);
    std::uint8_t sig[64];
    std::uint32_t capacity = 64;
    const auto oid = oidTest();
    ASSERT_EQ(orv::gostSign(key.data(), 32, hash.data(), 32, sig, &capacity, oid.data(), 9), 0);
    EXPECT_EQ(gostWork.letter, 'T');
    EXPECT_EQ(gostWork.doublings.letter, 'T');
    gostResetWorkArea();
    EXPECT_EQ(gostWork.letter, 'A');
    EXPECT_EQ(gostWork.doublings.letter, 0);
    EXPECT_TRUE(isZeroLimbs(gostWork.doublings.x[5], 4));
    EXPECT_TRUE(isZeroLimbs(gostWork.p, 4));
    // The table is rebuilt on demand: the known answer still comes out.
    ASSERT_EQ(orv::gostSign(key.data(), 32, hash.data(), 32, sig, &capacity, oid.data(), 9), 0);
    EXPECT_EQ(hexFromLe(sig), kRfcR);
}

} // namespace
