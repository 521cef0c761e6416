// The engine's fast paths against its plain ones, where a signature alone could hide a
// fault in a rare branch: the lazy CryptoPro-A field arithmetic (portable and mulx/adx)
// against the fully reduced one at the carry and borrow edges, the scalar multiplication
// on every field variant, and the binary gcd's two's-complement shortcut against the
// sign-magnitude form (both of its variants: odd x >= y, and the rest), including the
// operands where the shortcut has to decline.
#include "FixedNonce.h"
#include "GostVectors.h"
#include "gost/GostArith.h"
#include "gost/GostCpu.h"
#include "gost/GostFieldAMulx.h"
#include "gost/GostReduceA.h"
#include "gost/GostScalarLoop.h"
#include "gost/GostSign.h"
#include "logging.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace orv::gost;
using namespace orv::test;

using Value = std::vector<std::uint64_t>;  // four limbs

const Value kP = {0xFFFFFFFFFFFFFD97ull, ~0ull, ~0ull, ~0ull};

Value limbsOf(const Fe a) { return Value(a, a + 4); }

// a mod p, through the long division.
Value reduced(const Value& a) {
    std::uint32_t words[8], p[8], rem[8];
    wordsFromLimbs(words, a.data(), 4);
    wordsFromLimbs(p, kP.data(), 4);
    EXPECT_EQ(bnMod(rem, words, 8, p, 8), 0);
    Value out(4);
    limbsFromWords(out.data(), rem, 4);
    return out;
}

// (b - a) mod p from the reduced operands.
Value referenceSub(const Value& b, const Value& a) {
    Value rb = reduced(b), ra = reduced(a), out(4);
    if (subLimbs(out.data(), rb.data(), ra.data(), 4))
        addLimbs(out.data(), out.data(), kP.data(), 4);
    return out;
}

// a * b mod p by the plain product and the canonical CryptoPro-A reduction.
Value referenceMul(const Value& a, const Value& b) {
    std::uint64_t wide[8];
    gostMulWide(wide, a.data(), b.data());
    Fe out;
    gostReduceA(out, wide);
    return limbsOf(out);
}

// Operands at the edges of the lazy range [0, 2^256): around 0, 617, p and 2^256, limbs
// of all ones, and random ones.
std::vector<Value> edgeValues() {
    std::vector<Value> v = {
        {0, 0, 0, 0},
        {1, 0, 0, 0},
        {616, 0, 0, 0},
        {617, 0, 0, 0},
        {618, 0, 0, 0},
        {0xFFFFFFFFFFFFFD96ull, ~0ull, ~0ull, ~0ull},  // p - 1
        kP,
        {0xFFFFFFFFFFFFFD98ull, ~0ull, ~0ull, ~0ull},  // p + 1: a second representative of 1
        {~0ull - 99, ~0ull, ~0ull, ~0ull},
        {~0ull, ~0ull, ~0ull, ~0ull},                  // 2^256 - 1 = p + 616
        {~0ull, 0, ~0ull, 0},
        {0, 0, 0, 0x8000000000000000ull},
    };
    std::uint64_t seed = 0x2545F4914F6CDD1Dull;
    for (int i = 0; i < 40; ++i)
        v.push_back({nextRandom(seed), nextRandom(seed), nextRandom(seed), nextRandom(seed)});
    return v;
}

// One field variant against the reduced arithmetic; results compared after canonical().
template <class F>
void checkLazyField(const char* name) {
    SCOPED_TRACE(name);
    const std::vector<Value> values = edgeValues();
    for (const Value& a : values) {
        Fe out, canon;
        F::canonical(canon, a.data());
        EXPECT_EQ(limbsOf(canon), reduced(a));
        F::sqr(out, a.data());
        F::canonical(canon, out);
        EXPECT_EQ(limbsOf(canon), referenceMul(a, a));
        F::mulWord2(out, a.data());
        F::canonical(canon, out);
        EXPECT_EQ(limbsOf(canon), referenceMul(a, {2, 0, 0, 0}));
        for (const Value& b : values) {
            F::mul(out, a.data(), b.data());
            F::canonical(canon, out);
            ASSERT_EQ(limbsOf(canon), referenceMul(a, b)) << std::hex << a[0] << " * " << b[0];
            F::sub(out, b.data(), a.data());
            F::canonical(canon, out);
            ASSERT_EQ(limbsOf(canon), referenceSub(b, a)) << std::hex << b[0] << " - " << a[0];
        }
    }
}

TEST(GostLazyField, PortableArithmeticMatchesTheReducedOne) { checkLazyField<FieldA>("portable"); }

#if defined(ORV_GOST_HAVE_MULX)
TEST(GostLazyField, MulxArithmeticMatchesTheReducedOne) {
    if (!gostCpuHasMulxAdx())
        GTEST_SKIP() << "no BMI2/ADX on this processor";
    checkLazyField<FieldAMulx>("mulx");
}
#endif

TEST(GostLazyField, SubtractionWrapsTwiceBelowZero) {
    // b - a + 2^256 < 617: the difference needs p added twice over 2^256's worth.
    const Value zero = {0, 0, 0, 0}, top = {~0ull, ~0ull, ~0ull, ~0ull};
    Fe out;
    FieldA::sub(out, zero.data(), top.data());
    EXPECT_EQ(limbsOf(out), Value({~0ull - 1232, ~0ull, ~0ull, ~0ull}));  // 0 - (2^256 - 1) + 2p
    FieldA::canonical(out, out);
    EXPECT_EQ(limbsOf(out), referenceSub(zero, top));
}

TEST(GostLazyField, EqualResiduesSubtractToZeroOrP) {
    // The addition's equal-x test looks at v = v1 - v2 only: the two representatives of a
    // residue (a and a + p) must come out as 0 or p, and nothing else may.
    const Value one = {1, 0, 0, 0}, onePlusP = {0xFFFFFFFFFFFFFD98ull, ~0ull, ~0ull, ~0ull}, two = {2, 0, 0, 0};
    const Value top = {~0ull, ~0ull, ~0ull, ~0ull}, topMinusP = {616, 0, 0, 0};
    const struct {
        Value b, a;
        bool zero;
    } cases[] = {
        {one, one, true},  {onePlusP, one, true}, {one, onePlusP, true}, {top, topMinusP, true},
        {topMinusP, top, true}, {two, one, false}, {one, two, false},  {top, one, false},
        {kP, {0, 0, 0, 0}, true},
    };
    for (const auto& c : cases) {
        Fe out;
        FieldA::sub(out, c.b.data(), c.a.data());
        EXPECT_EQ(isZeroModP(out, kP.data()), c.zero) << std::hex << c.b[0] << " - " << c.a[0];
    }
}

// ---- scalar multiplication on every field variant ----

class GostScalarPaths : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(signRfcExampleOnSetA(), 0);
    }
    void TearDown() override {
        gostUsePortableField(false);
        gostResetWorkArea();
    }

    struct Outcome {
        std::uint8_t status;
        Value x, y, z;
        bool operator==(const Outcome& o) const { return status == o.status && x == o.x && y == o.y && z == o.z; }
    };
    template <class F>
    static Outcome run(const std::uint32_t k[8]) {
        const std::uint8_t status = scalarMulLoop<F>(k);
        return {status, limbsOf(gostWork.R.X), limbsOf(gostWork.R.Y), limbsOf(gostWork.R.Z)};
    }
};

TEST_F(GostScalarPaths, EveryFieldVariantGivesTheSameReducedPoint) {
    std::vector<std::vector<std::uint32_t>> scalars = {
        {1, 0, 0, 0, 0, 0, 0, 0},
        {2, 0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0, 0x80000000u},
        {~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u},
    };
    std::uint32_t q[8];
    wordsFromBytes(q, leFromHex(kQA).data(), 32);
    scalars.push_back(std::vector<std::uint32_t>(q, q + 8));
    scalars.back()[0] -= 1;  // q - 1
    std::uint64_t seed = 7;
    for (int i = 0; i < 6; ++i) {
        scalars.emplace_back(8);
        for (auto& w : scalars.back())
            w = static_cast<std::uint32_t>(nextRandom(seed));
    }
    for (const auto& k : scalars) {
        const Outcome generic = run<FieldGeneric>(k.data());
        ASSERT_EQ(generic.status, 0);
        EXPECT_TRUE(run<FieldA>(k.data()) == generic) << std::hex << k[0];
#if defined(ORV_GOST_HAVE_MULX)
        if (gostCpuHasMulxAdx()) {
            EXPECT_TRUE(run<FieldAMulx>(k.data()) == generic) << std::hex << k[0];
        }
#endif
    }
    // the entry point picks a variant and gives the same
    gostUsePortableField(true);
    ASSERT_EQ(gostScalarMul(scalars.back().data()), 0);
    const Outcome portable = {0, limbsOf(gostWork.R.X), limbsOf(gostWork.R.Y), limbsOf(gostWork.R.Z)};
    gostUsePortableField(false);
    ASSERT_EQ(gostScalarMul(scalars.back().data()), 0);
    const Outcome chosen = {0, limbsOf(gostWork.R.X), limbsOf(gostWork.R.Y), limbsOf(gostWork.R.Z)};
    EXPECT_TRUE(portable == chosen);
    EXPECT_TRUE(run<FieldGeneric>(scalars.back().data()) == chosen);
}

TEST_F(GostScalarPaths, PortablePathSignsLikeTheProcessorsChoice) {
    const Bytes32 key = leFromHex(kRfcKey), hash = leFromHex(kRfcHash), nonce = leFromHex(kRfcNonce);
    const auto oid = oidA();
    std::uint8_t sigChosen[64], sigPortable[64];
    std::uint32_t capacity = 64;
    {
        FixedNonce fixed({nonce});
        ASSERT_EQ(orv::gostSign(key.data(), 32, hash.data(), 32, sigChosen, &capacity, oid.data(), 9), 0);
    }
    gostUsePortableField(true);
    EXPECT_FALSE(gostCpuHasMulxAdx());
    {
        FixedNonce fixed({nonce});
        ASSERT_EQ(orv::gostSign(key.data(), 32, hash.data(), 32, sigPortable, &capacity, oid.data(), 9), 0);
    }
    EXPECT_EQ(hexFromLe(sigChosen, 64), hexFromLe(sigPortable, 64));
}

// ---- binary gcd: shortcut against the sign-magnitude form ----

class LogCapture {
public:
    LogCapture() {
        previous_ = FB::Log::setSink([this](const FB::Log::Record& r) { messages_.push_back(r.message); });
    }
    ~LogCapture() { FB::Log::setSink(previous_); }
    std::vector<std::string> take() {
        std::vector<std::string> out;
        out.swap(messages_);
        return out;
    }

private:
    std::vector<std::string> messages_;
    FB::Log::Sink previous_;
};

std::string describe(const GostSigned& s) {
    std::string out = s.sign ? "+" : "-";
    for (std::size_t i = kXgcdLimbs; i-- > 0;)
        out += std::to_string(s.mag[i]) + ".";
    return out;
}

TEST(GostBinaryXgcdShortcut, GivesWhatTheSignMagnitudeFormGives) {
    const XgcdValue p = {0xFFFFFFFFFFFFFD97ull, ~0ull, ~0ull, ~0ull, 0};
    const XgcdValue q = {0x45841B09B761B893ull, 0x6C611070995AD100ull, ~0ull, ~0ull, 0};
    std::vector<std::pair<std::vector<std::uint64_t>, std::vector<std::uint64_t>>> pairs = {
        {{p[0], p[1], p[2], p[3], 0}, {12345, 0, 0, 0, 0}},
        {{q[0], q[1], q[2], q[3], 0}, {q[0] - 1, q[1], q[2], q[3], 0}},
        {{7, 0, 0, 0, 0}, {1, 0, 0, 0, 0}},   // cx = 0 at the end: declined
        {{1, 0, 0, 0, 0}, {1, 0, 0, 0, 0}},
        {{9, 0, 0, 0, 0}, {6, 0, 0, 0, 0}},   // gcd 3
        {{8, 0, 0, 0, 0}, {3, 0, 0, 0, 0}},   // x even, y odd
        {{12, 0, 0, 0, 0}, {8, 0, 0, 0, 0}},  // both even: g = 4, declined
        {{5, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},   // v = 0: status 2
        {{0, 0, 0, 0, 0}, {5, 0, 0, 0, 0}},   // u = 0 from the start: declined
        {{~0ull, ~0ull, ~0ull, ~0ull, 0}, {~0ull - 2, ~0ull, ~0ull, ~0ull, 0}},
        {{3, 0, 0, 0, 1}, {5, 0, 0, 0, 0}},   // above 2^256: declined
    };
    std::uint64_t seed = 0xC0FFEE;
    for (int i = 0; i < 60; ++i) {
        std::vector<std::uint64_t> x(5), y(5);
        for (std::size_t j = 0; j < 4; ++j) {
            x[j] = nextRandom(seed);
            y[j] = nextRandom(seed);
        }
        if (i % 3 == 0)
            x[0] |= 1;  // odd and even in every combination; some pairs share factors
        if (i % 4 == 0)
            y[0] &= ~std::uint64_t(7);
        if (i % 10 == 0)
            y[3] = y[2] = 0;  // very different sizes
        pairs.emplace_back(x, y);
    }
    for (int i = 0; i < 20; ++i) {  // the inversions of the engine: p first, a Z below it
        std::vector<std::uint64_t> z = {nextRandom(seed), nextRandom(seed), nextRandom(seed), nextRandom(seed) >> (i % 3), 0};
        pairs.push_back({{p[0], p[1], p[2], p[3], 0}, z});
    }
    LogCapture log;
    for (const auto& pr : pairs) {
        GostXgcdResult fast{}, plain{};
        const std::uint8_t fastStatus = gostBinaryXgcd(pr.first.data(), pr.second.data(), fast);
        const auto fastLog = log.take();
        const std::uint8_t plainStatus = gostBinaryXgcdSignMagnitude(pr.first.data(), pr.second.data(), plain);
        const auto plainLog = log.take();
        SCOPED_TRACE(std::to_string(pr.first[0]) + ", " + std::to_string(pr.second[0]));
        ASSERT_EQ(fastStatus, plainStatus);
        EXPECT_EQ(fastLog, plainLog);
        if (plainStatus != 0)
            continue;
        EXPECT_EQ(std::vector<std::uint64_t>(fast.gcd, fast.gcd + 5), std::vector<std::uint64_t>(plain.gcd, plain.gcd + 5));
        EXPECT_EQ(describe(fast.cx), describe(plain.cx));
        EXPECT_EQ(describe(fast.cy), describe(plain.cy));
    }
}

TEST(GostBinaryXgcdShortcut, OperandsAtTheTopOfTheWidthStillLogTheirCarries) {
    // The operands of the diagnostics test: the shortcut must hand them over whole.
    std::uint64_t seed = 88172645463325252ull;
    LogCapture log;
    XgcdValue x, y;
    for (std::size_t j = 0; j < kXgcdLimbs; ++j) {
        x[j] = nextRandom(seed);
        y[j] = nextRandom(seed);
    }
    x[4] = (x[4] & 0xFFFFFFFFu) | 0x80000000u;
    y[4] = (y[4] & 0xFFFFFFFFu) | 0x80000000u;
    x[0] |= 1;
    GostXgcdResult fast{}, plain{};
    ASSERT_EQ(gostBinaryXgcd(x, y, fast), 0);
    const auto fastLog = log.take();
    ASSERT_EQ(gostBinaryXgcdSignMagnitude(x, y, plain), 0);
    EXPECT_FALSE(fastLog.empty());
    EXPECT_EQ(fastLog, log.take());
    EXPECT_EQ(describe(fast.cx), describe(plain.cx));
}

}  // namespace
