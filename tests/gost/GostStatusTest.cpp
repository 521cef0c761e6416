// Every status reachable from outside: gostSign's argument checks in their order, the
// size query, capacities, nonce failures; olcSignHash's -10 and -70 - status with its box.
#include "FixedNonce.h"
#include "GostVectors.h"
#include "RecordingErrorBox.h"
#include "gost/GostSign.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

namespace {

using namespace orv::test;

enum class Nonce { Rfc, Fails, Zero };

struct SignCase {
    const char* name;
    std::vector<std::uint8_t> oid;
    std::uint32_t keyLen, hashLen;
    bool nullKey, nullHash, nullSignature, nullCapacity;
    std::uint32_t capacity;
    Nonce nonce;
    std::uint8_t expectedStatus;
    std::uint32_t expectedCapacity;
    bool expectSignature;  // 64 bytes written
    int expectedDraws;
};

std::vector<std::uint8_t> oidWith(std::vector<std::uint8_t> oid, std::size_t size) {
    oid.resize(size, 0x01);
    return oid;
}

const SignCase kSignCases[] = {
    // name                oid                      key hash  nK     nH     nSig   nCap   cap   nonce         st  cap  sig    draws
    {"Signs",              oidA(),                  32, 32, false, false, false, false, 64,  Nonce::Rfc,   0,  64,  true,  1},
    {"Capacity100Kept",    oidA(),                  32, 32, false, false, false, false, 100, Nonce::Rfc,   0,  100, true,  1},
    {"SizeQuery",          oidA(),                  32, 32, false, false, true,  false, 7,   Nonce::Rfc,   0,  64,  false, 0},
    {"SizeQueryKey31",     oidA(),                  31, 32, false, false, true,  false, 7,   Nonce::Rfc,   2,  7,   false, 0},
    {"UnknownOidFirst",    oidFor(0x23, 4),         31, 31, false, false, true,  true,  7,   Nonce::Rfc,   3,  7,   false, 0},
    {"OidLast04",          oidFor(0x23, 4),         32, 32, false, false, false, false, 64,  Nonce::Rfc,   3,  64,  false, 0},
    {"OidXch02",           oidFor(0x24, 2),         32, 32, false, false, false, false, 64,  Nonce::Rfc,   3,  64,  false, 0},
    {"OidLength8",         oidWith(oidA(), 8),      32, 32, false, false, false, false, 64,  Nonce::Rfc,   3,  64,  false, 0},
    {"OidLength10",        oidWith(oidA(), 10),     32, 32, false, false, false, false, 64,  Nonce::Rfc,   3,  64,  false, 0},
    {"Key33",              oidA(),                  33, 32, false, false, false, false, 64,  Nonce::Rfc,   2,  64,  false, 0},
    {"Key31BeforeNullCap", oidA(),                  31, 32, false, false, false, true,  64,  Nonce::Rfc,   2,  64,  false, 0},
    {"NullCapacity",       oidA(),                  32, 31, false, false, false, true,  64,  Nonce::Rfc,   1,  64,  false, 0},
    {"Hash31",             oidA(),                  32, 31, false, false, true,  false, 7,   Nonce::Rfc,   2,  7,   false, 0},
    {"Capacity63",         oidA(),                  32, 32, false, false, false, false, 63,  Nonce::Rfc,   1,  63,  false, 0},
    {"Capacity0",          oidA(),                  32, 32, false, false, false, false, 0,   Nonce::Rfc,   1,  0,   false, 0},
    {"NullKey",            oidA(),                  32, 32, true,  false, false, false, 64,  Nonce::Rfc,   2,  64,  false, 0},
    {"NullHash",           oidA(),                  32, 32, false, true,  false, false, 64,  Nonce::Rfc,   2,  64,  false, 0},
    {"RandomFails",        oidA(),                  32, 32, false, false, false, false, 64,  Nonce::Fails, 2,  64,  false, 1},
    {"NonceZero",          oidA(),                  32, 32, false, false, false, false, 64,  Nonce::Zero,  17, 64,  false, 1},
};

class GostSignStatus : public ::testing::TestWithParam<SignCase> {};

TEST_P(GostSignStatus, ReturnsItsStatusAndTouchesOnlyWhatItMay) {
    const SignCase& c = GetParam();
    const Bytes32 key = leFromHex(kRfcKey), hash = leFromHex(kRfcHash);
    std::vector<std::uint8_t> buffer(128, 0xEE);
    std::uint32_t capacity = c.capacity;

    FixedNonce failing = FixedNonce::failing();
    std::deque<Bytes32> queued;
    if (c.nonce == Nonce::Rfc)
        queued.push_back(leFromHex(kRfcNonce));
    if (c.nonce == Nonce::Zero)
        queued.push_back(Bytes32{});
    // The innermost installed source answers: the queue unless the case wants failures.
    std::unique_ptr<FixedNonce> fixed;
    if (c.nonce != Nonce::Fails)
        fixed = std::make_unique<FixedNonce>(queued);

    const std::uint8_t status = orv::gostSign(
        c.nullKey ? nullptr : key.data(), c.keyLen, c.nullHash ? nullptr : hash.data(), c.hashLen,
        c.nullSignature ? nullptr : buffer.data(), c.nullCapacity ? nullptr : &capacity, c.oid.data(),
        static_cast<std::uint32_t>(c.oid.size()));

    EXPECT_EQ(status, c.expectedStatus);
    EXPECT_EQ(capacity, c.expectedCapacity);
    EXPECT_EQ(c.nonce == Nonce::Fails ? failing.draws() : fixed->draws(), c.expectedDraws);
    for (std::size_t i = 64; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], 0xEE) << "byte " << i << " written past the signature";
    if (c.expectSignature) {
        EXPECT_NE(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 64), std::vector<std::uint8_t>(64, 0xEE));
    } else {
        EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 64), std::vector<std::uint8_t>(64, 0xEE));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, GostSignStatus, ::testing::ValuesIn(kSignCases),
                         [](const ::testing::TestParamInfo<SignCase>& i) { return std::string(i.param.name); });

TEST(GostParamSetFromOid, MapsTheSixRowsAndNothingElse) {
    const struct {
        std::vector<std::uint8_t> oid;
        char letter;
    } cases[] = {
        {oidFor(0x23, 0), 'T'}, {oidFor(0x23, 1), 'A'}, {oidFor(0x23, 2), 'B'},
        {oidFor(0x23, 3), 'C'}, {oidFor(0x24, 0), 'A'}, {oidFor(0x24, 1), 'C'},
        {oidFor(0x23, 4), 0},   {oidFor(0x24, 2), 0},   {oidFor(0x25, 1), 0},
        {{0x06, 0x08, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01}, 0},
        {{0x07, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(orv::gostParamSetFromOid(c.oid.data(), 9), c.letter) << hexFromLe(c.oid.data(), 9);
    const std::vector<std::uint8_t> a = oidA();
    EXPECT_EQ(orv::gostParamSetFromOid(a.data(), 8), 0);
    EXPECT_EQ(orv::gostParamSetFromOid(a.data(), 0), 0);
    EXPECT_EQ(orv::gostParamSetFromOid(nullptr, 9), 0);
}

// ---- olcSignHash ----

struct EntryCase {
    const char* name;
    bool nullKey, nullHash, nullSignature, nullCapacity;
    std::uint32_t keyLen, hashLen, capacity;
    Nonce nonce;
    std::int32_t expected;
    const char* boxText;  // null: no box
};

const EntryCase kEntryCases[] = {
    {"Signs", false, false, false, false, 32, 32, 64, Nonce::Rfc, 0, nullptr},
    {"NullKey", true, false, false, false, 32, 32, 64, Nonce::Rfc, -10, nullptr},
    {"NullHash", false, true, false, false, 32, 32, 64, Nonce::Rfc, -10, nullptr},
    {"NullSignature", false, false, true, false, 32, 32, 64, Nonce::Rfc, -10, nullptr},
    {"NullCapacity", false, false, false, true, 32, 32, 64, Nonce::Rfc, -10, nullptr},
    {"KeyLen0", false, false, false, false, 0, 32, 64, Nonce::Rfc, -10, nullptr},
    {"HashLen0", false, false, false, false, 32, 0, 64, Nonce::Rfc, -10, nullptr},
    {"Capacity63", false, false, false, false, 32, 32, 63, Nonce::Rfc, -71, "some crypt error 0x00000001"},
    {"KeyLen31", false, false, false, false, 31, 32, 64, Nonce::Rfc, -72, "some crypt error 0x00000002"},
    {"HashLen33", false, false, false, false, 32, 33, 64, Nonce::Rfc, -72, "some crypt error 0x00000002"},
    {"RandomFails", false, false, false, false, 32, 32, 64, Nonce::Fails, -72, "some crypt error 0x00000002"},
    {"NonceZero", false, false, false, false, 32, 32, 64, Nonce::Zero, -87, "some crypt error 0x00000011"},
};

class OlcSignHashStatus : public ::testing::TestWithParam<EntryCase> {};

TEST_P(OlcSignHashStatus, MapsEngineStatusesAndShowsTheBox) {
    const EntryCase& c = GetParam();
    const Bytes32 key = leFromHex(kRfcKey), hash = leFromHex(kRfcHash);
    std::vector<std::uint8_t> buffer(64, 0xEE);
    std::uint32_t capacity = c.capacity;
    RecordingErrorBox box;
    FixedNonce failing = FixedNonce::failing();
    std::unique_ptr<FixedNonce> fixed;
    if (c.nonce != Nonce::Fails)
        fixed = std::make_unique<FixedNonce>(std::deque<Bytes32>{c.nonce == Nonce::Zero ? Bytes32{} : leFromHex(kRfcNonce)});

    const std::int32_t result =
        orv::olcSignHash(c.nullKey ? nullptr : key.data(), c.keyLen, reinterpret_cast<void*>(0x1234),
                         c.nullHash ? nullptr : hash.data(), c.hashLen, c.nullSignature ? nullptr : buffer.data(),
                         c.nullCapacity ? nullptr : &capacity);

    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(capacity, c.capacity);
    if (c.boxText) {
        ASSERT_EQ(box.boxes().size(), 1u);
        EXPECT_EQ(box.boxes()[0], (ShownBox{c.boxText, "olcSignHash"}));
    } else {
        EXPECT_TRUE(box.boxes().empty()) << box.boxes()[0].text;
    }
    if (result != 0) {
        EXPECT_EQ(buffer, std::vector<std::uint8_t>(64, 0xEE));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, OlcSignHashStatus, ::testing::ValuesIn(kEntryCases),
                         [](const ::testing::TestParamInfo<EntryCase>& i) { return std::string(i.param.name); });

TEST(OlcSignHash, SignsWithCryptoProA) {
    const Bytes32 key = leFromHex(kRfcKey), hash = leFromHex(kRfcHash);
    std::uint8_t viaEntry[64], viaEngine[64];
    std::uint32_t capacity = 64;
    FixedNonce nonce({leFromHex(kRfcNonce), leFromHex(kRfcNonce)});
    ASSERT_EQ(orv::olcSignHash(key.data(), 32, nullptr, hash.data(), 32, viaEntry, &capacity), 0);
    const std::vector<std::uint8_t> a = oidA();
    ASSERT_EQ(orv::gostSign(key.data(), 32, hash.data(), 32, viaEngine, &capacity, a.data(), 9), 0);
    EXPECT_EQ(std::vector<std::uint8_t>(viaEntry, viaEntry + 64), std::vector<std::uint8_t>(viaEngine, viaEngine + 64));
}

} // namespace
