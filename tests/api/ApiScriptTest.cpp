// orvantaAPI without a token: its members, the registration machinery's argument checks
// and conversion messages, a plug-in object that is gone, and the software signature.
// No PKCS#11 module is loaded here, so every token method answers -51.

#include "ApiCalls.h"
#include "FakeJSObject.h"
#include "PlatformRandom.h"
#include "RecordingErrorBox.h"
#include "api/HexCodec.h"
#include "gost/GostSign.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

using namespace orv;
using namespace orv::test;
using FB::variant;
using FB::VariantList;

const std::vector<std::uint8_t> kCryptoProAOid = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};

struct Method {
    const char* name;
    std::size_t arity;
};
const Method kMethods[] = {
    {"olvIsTokenPresentAndOK", 0}, {"olvIsUserLoggedIn", 0},   {"olvUserLoginDlg", 0},
    {"olvLogout", 0},              {"olvSign", 2},             {"olvGenKeyPair", 1},
    {"olvDestroyContainer", 1},    {"olvGetNumberOfContainers", 0}, {"olvGetPublicKey", 1},
    {"olvGetContainerName", 1},    {"olvRepair", 2},
};

std::string conversionMessage(const std::type_info& from, const std::type_info& to) {
    return std::string("Could not convert from ") + from.name() + " to " + to.name();
}

class ApiScript : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(moduleLoadCount, 0);
        owner_ = std::make_shared<TokenOwner>();
        api_ = std::make_shared<orvantaAPI>(owner_, nullptr);
    }

    variant call(const std::string& method, const VariantList& args = {}) {
        return api_->Invoke(method, args);
    }
    std::string errorOf(const std::string& method, const VariantList& args) {
        return scriptErrorOf([&] { call(method, args); });
    }

    TokenOwnerPtr owner_;
    std::shared_ptr<orvantaAPI> api_;
    RecordingErrorBox boxes_;
};

TEST_F(ApiScript, VersionIsAReadOnlyPropertyAndAMethod) {
    EXPECT_TRUE(isText(api_->GetProperty("version"), "1.1"));
    EXPECT_TRUE(isText(call("get_version"), "1.1"));
    api_->SetProperty("version", variant("2.0"));  // accepted and ignored
    EXPECT_TRUE(isText(api_->GetProperty("version"), "1.1"));
    EXPECT_TRUE(isText(call("toString"), "<JSAPI-Auto Javascript Object>"));
}

TEST_F(ApiScript, EveryMethodIsRegistered) {
    std::vector<std::string> names;
    api_->getMemberNames(names);
    for (const Method& m : kMethods) {
        EXPECT_TRUE(api_->HasMethod(m.name)) << m.name;
        EXPECT_NE(std::find(names.begin(), names.end(), m.name), names.end()) << m.name;
    }
    EXPECT_TRUE(api_->HasMethod("get_version"));
    EXPECT_TRUE(api_->HasProperty("version"));
    EXPECT_FALSE(api_->HasMethod("olvsign"));  // names are case-sensitive
    EXPECT_EQ(errorOf("olvsign", {}), "The specified member does not exist: olvsign");
}

TEST_F(ApiScript, TooManyArguments) {
    for (const Method& m : kMethods) {
        SCOPED_TRACE(m.name);
        const VariantList args(m.arity + 1, variant("x"));
        if (m.arity == 0) {
            // Not called at all: a call would have answered -51.
            EXPECT_TRUE(call(m.name, args).empty());
        } else {
            EXPECT_EQ(errorOf(m.name, args),
                      "Too many arguments, expected " + std::to_string(m.arity) + ".");
        }
    }
    EXPECT_TRUE(call("get_version", {variant(1)}).empty());
}

TEST_F(ApiScript, TokenMethodsWithoutALoadedModuleAnswerMinus51) {
    // The session comes before any argument is read, so missing arguments do not matter.
    for (const Method& m : kMethods) {
        if (std::string(m.name) == "olvRepair")
            continue;
        SCOPED_TRACE(m.name);
        const VariantList args = std::string(m.name) == "olvGetContainerName" ? VariantList{variant(0)}
                                                                               : VariantList{};
        EXPECT_TRUE(isStatus(call(m.name, args), -51));
    }
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiScript, FailedConversionsEndTheCallWithTheirMessage) {
    const std::string key(64, 'K'), hash(64, '0');
    const variant object = FB::JSObjectPtr(FakeJSObject::create());
    const std::type_info& empty = typeid(FB::variant_detail::empty);
    const struct {
        const char* method;
        VariantList args;
        std::string message;
    } cases[] = {
        {"olvGetContainerName", {}, conversionMessage(empty, typeid(long))},
        {"olvGetContainerName", {variant("first")}, conversionMessage(typeid(std::string), typeid(long))},
        {"olvGetContainerName", {object}, conversionMessage(typeid(FB::JSObjectPtr), typeid(long))},
        {"olvGetContainerName", {variant(FB::variant_detail::null())},
         conversionMessage(typeid(FB::variant_detail::null), typeid(long))},
        {"olvRepair", {}, conversionMessage(empty, typeid(std::string))},
        {"olvRepair", {object, variant(hash)}, conversionMessage(typeid(FB::JSObjectPtr), typeid(std::string))},
        // The key is read and checked before the hash.
        {"olvRepair", {variant(key)}, conversionMessage(empty, typeid(std::string))},
        {"olvRepair", {variant(key), object}, conversionMessage(typeid(FB::JSObjectPtr), typeid(std::string))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + (" with " + std::to_string(c.args.size()) + " arguments"));
        EXPECT_EQ(errorOf(c.method, c.args), c.message);
    }
    // A key of the wrong length is answered before the hash is read.
    EXPECT_TRUE(isStatus(call("olvRepair", {variant("short")}), -11));
}

TEST_F(ApiScript, NumbersAndTextsAreConvertedNotRefused) {
    // An index given as text or as a fraction is read as a number; the table answers for it.
    struct LoadedCount {  // only the table is read: no module call can happen
        LoadedCount() { moduleLoadCount = 1; }
        ~LoadedCount() { moduleLoadCount = 0; }
    } loaded;
    const variant indexes[] = {variant("3"), variant(2.9), variant(true), variant(0)};
    for (const variant& index : indexes)
        EXPECT_TRUE(isStatus(call("olvGetContainerName", {index}), -20)) << describe(index);
    // Outside the 64 entries: refused without reading anything.
    for (long index : {-1L, 64L, 100000L, -2147483647L - 1})
        EXPECT_TRUE(isStatus(call("olvGetContainerName", {variant(index)}), -10)) << index;
}

TEST_F(ApiScript, AGonePluginObjectMakesEveryMethodAScriptError) {
    owner_.reset();
    for (const Method& m : kMethods) {
        SCOPED_TRACE(m.name);
        const VariantList args(m.arity, variant(std::string(64, 'K')));
        EXPECT_EQ(errorOf(m.name, args), "The plugin is invalid");
    }
    // The version belongs to the object itself.
    EXPECT_TRUE(isText(call("get_version"), "1.1"));
}

// Hands the engine fixed nonces and counts the draws.
class FixedNonce {
public:
    explicit FixedNonce(std::vector<std::array<std::uint8_t, 32>> nonces, bool fail = false)
        : nonces_(std::move(nonces)), fail_(fail) {
        previous_ = setRandomSource([this](std::uint8_t* b, std::size_t n) {
            ++draws_;
            if (fail_ || nonces_.empty() || n != 32)
                return false;
            std::copy(nonces_.front().begin(), nonces_.front().end(), b);
            nonces_.erase(nonces_.begin());
            return true;
        });
    }
    ~FixedNonce() { setRandomSource(previous_); }
    int draws() const { return draws_; }

private:
    std::vector<std::array<std::uint8_t, 32>> nonces_;
    bool fail_;
    int draws_ = 0;
    RandomSource previous_;
};

const std::array<std::uint8_t, 32> kNonce = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB,
                                             0xCC, 0xDD, 0xEE, 0xF0, 0x01, 0x12, 0x23, 0x34, 0x45, 0x56, 0x67,
                                             0x78, 0x89, 0x9A, 0xAB, 0xBC, 0xCD, 0xDE, 0xEF, 0x0F, 0x07};

// What the page must get for this key and token-order hash: r then s, each most
// significant byte first.
std::string engineSignatureText(const std::array<std::uint8_t, 32>& keyLe,
                                const std::array<std::uint8_t, 32>& hashLe) {
    FixedNonce nonce({kNonce});
    std::uint8_t sig[64] = {};
    std::uint32_t capacity = 64;
    EXPECT_EQ(gostSign(keyLe.data(), 32, hashLe.data(), 32, sig, &capacity, kCryptoProAOid.data(), 9), 0);
    std::reverse(sig, sig + 32);
    std::reverse(sig + 32, sig + 64);
    char text[129];
    bytesToHex(sig, 64, text);
    return text;
}

TEST_F(ApiScript, SoftwareSignatureIsTheEnginesWithThePagesByteOrders) {
    // RFC 5832's example key, hash and nonce, signed on CryptoPro-A (the set of
    // "olvRepair"). The answer was computed outside this code base: r = x(kP) mod q and
    // s = (r*d + k*e) mod q in plain big-integer arithmetic on the set's values as Botan
    // has them (the same arithmetic gives the RFC's own r and s on the test set), and
    // Botan's GOST verifier accepts it for d*P.
    // The key as the page writes it: d least significant byte first, in the alphabet.
    const std::string key = "BUNDLJEMEUJLMEMALLCLNEPEMXERRKMDJMCBEHANEANFLAMKDLDEEDCUALEHEBCH";
    // The hash most significant byte first, as the RFC prints it.
    const std::string hash = "2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5";
    // The RFC's nonce as the platform's generator hands it over: little-endian bytes.
    const std::array<std::uint8_t, 32> rfcNonce = {
        0xB3, 0xEA, 0xDC, 0x94, 0x45, 0x92, 0xED, 0x4F, 0xE6, 0x7F, 0x5B, 0xE9, 0x14, 0x38, 0xE3, 0x6D,
        0x95, 0x7B, 0xCC, 0x6F, 0xCF, 0xC8, 0x23, 0x28, 0x12, 0xD3, 0xBC, 0x20, 0x9B, 0x5C, 0x10, 0x77};
    // r then s, each most significant byte first.
    const std::string expected =
        "74E939C637A79A5B7E39DC15976BEFB324ACDB74E2FA8D434ABA0DA9EBF8DE8F"
        "1F3DE74B3906D73920A5B332F5E4DEDF8FDAB3AC8DB157DCE780F3DB4F1A6B0B";

    FixedNonce nonce({rfcNonce});
    const variant result = call("olvRepair", {variant(key), variant(hash)});
    EXPECT_TRUE(isText(result, expected));
    EXPECT_EQ(nonce.draws(), 1);
    EXPECT_EQ(owner_->tokenState().cryptoModule, nullptr);  // held only during the call
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(ApiScript, KeyTextWrittenInHexIsReadThroughTheAlphabet) {
    // Digits pass unchanged, but A-F are letters of the alphabet too:
    // A stands for D, B for 2, C for 7, D for B, E for 9 and F for 5.
    const std::string key = "0123456789ABCDEF0123456789abcdef0123456789ABCDEF0123456789ABCDEF";
    auto nibble = [](char c) -> std::uint8_t {
        switch (c) {
        case 'A': return 0xD;
        case 'B': return 0x2;
        case 'C': return 0x7;
        case 'D': return 0xB;
        case 'E': return 0x9;
        case 'F': return 0x5;
        case 'a': case 'b': case 'c': case 'd': case 'e': case 'f': return static_cast<std::uint8_t>(c - 'a' + 10);
        default: return static_cast<std::uint8_t>(c - '0');
        }
    };
    std::array<std::uint8_t, 32> readKey{}, plainKey{};
    for (int i = 0; i < 32; ++i) {
        readKey[i] = static_cast<std::uint8_t>(nibble(key[2 * i]) << 4 | nibble(key[2 * i + 1]));
        ASSERT_EQ(hexToBytes(key.substr(2 * i, 2).c_str(), &plainKey[i], 1), 1u);
    }
    ASSERT_NE(readKey, plainKey);
    std::array<std::uint8_t, 32> hashLe{};
    for (int i = 0; i < 32; ++i)
        hashLe[i] = static_cast<std::uint8_t>(31 - i);
    const std::string expected = engineSignatureText(readKey, hashLe);
    const std::string plainReading = engineSignatureText(plainKey, hashLe);

    FixedNonce nonce({kNonce});
    const variant result = call("olvRepair", {variant(key), variant(countingHash())});
    EXPECT_TRUE(isText(result, expected));
    EXPECT_FALSE(isText(result, plainReading));
}

TEST_F(ApiScript, SoftwareSignatureOfTextsWithBlanks) {
    // A digit followed by a blank is a byte of its own: 32 such pairs still make 32 bytes.
    std::array<std::uint8_t, 32> keyLe{};
    keyLe.fill(0x01);
    std::array<std::uint8_t, 32> hashLe{};
    hashLe.fill(0x0B);
    const std::string expected = engineSignatureText(keyLe, hashLe);

    std::string key, hash;
    for (int i = 0; i < 32; ++i) {
        key += "M ";   // M is the key letter for 1
        hash += "B ";  // a hex digit
    }
    FixedNonce nonce({kNonce});
    EXPECT_TRUE(isText(call("olvRepair", {variant(key), variant(hash)}), expected));
}

TEST_F(ApiScript, SoftwareSignatureNeedsTwoTextsOfSixtyFourCharacters) {
    const std::string key(64, 'M'), hash(64, '1');
    std::string keyWithZero = key;
    keyWithZero[20] = '\0';  // the text ends there: 20 characters
    const struct {
        std::string key, hash;
    } cases[] = {
        {key.substr(0, 63), hash}, {key + "M", hash}, {key, hash.substr(0, 63)},
        {key, hash + "1"},         {"", hash},        {keyWithZero, hash},
        // Texts that are not 32 bytes of hex: a stray character, or blanks leaving fewer bytes.
        {key.substr(0, 63) + "Z", hash},  // Z is neither a key letter nor a hex digit
        {key, hash.substr(0, 63) + "G"},
        {key, "-" + hash.substr(1)},
        {key, std::string(32, '1') + std::string(32, ' ')},
        {std::string(32, 'M') + std::string(32, ' '), hash},
    };
    FixedNonce nonce({});
    for (const auto& c : cases)
        EXPECT_TRUE(isStatus(call("olvRepair", {variant(c.key), variant(c.hash)}), -11))
            << c.key.size() << "/" << c.hash.size();
    EXPECT_EQ(nonce.draws(), 0);  // nothing was signed
}

TEST_F(ApiScript, EngineFailureIsPassedToThePage) {
    FixedNonce nonce({}, true);  // no random bytes
    const variant result = call("olvRepair", {variant(std::string(64, 'M')), variant(std::string(64, '1'))});
    EXPECT_TRUE(isStatus(result, -70 - GOST_ERR_FAILED));
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0], (ShownBox{"some crypt error 0x00000002", "olcSignHash"}));
    EXPECT_EQ(owner_->tokenState().cryptoModule, nullptr);
}

} // namespace
