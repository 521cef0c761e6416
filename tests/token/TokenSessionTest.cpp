// The session layer against SoftHSM through the olpkcs11xsg stand-in: presence, sessions,
// login, key pairs, signatures and the container listing, with the calls the module received.

#include "TokenFixture.h"

#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>

namespace {

using namespace orv;
using namespace orv::test;

const Bytes kCryptoProA = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
const Bytes kLabel = {'p', 'e', 'l', 'o', 'r', 'i', 'm', 'a', ' ', 'v', '.', '1', '0'};

Bytes ulongBytes(CK_ULONG v) {
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

using TokenSession = TokenFixture;

TEST_F(TokenSession, TokenPresentFillsTheSlotList) {
    state().slotList[0] = 0xFFFF;
    EXPECT_EQ(p11CheckTokenPresent(fl(), state().slotList, &state().slotIndex), 0);
    EXPECT_EQ(standin().calls(),
              (std::vector<std::string>{"C_GetSlotList", "C_GetSlotList", "C_GetSlotInfo"}));
    const auto second = standin().findCall("C_GetSlotList", 2);
    ASSERT_TRUE(second);
    EXPECT_EQ(standin().arg(*second, "tokenPresent"), 1u);
    EXPECT_EQ(standin().arg(*second, "listNull"), 0u);
    // The slot asked about is the first one the module listed.
    EXPECT_EQ(standin().arg(*standin().findCall("C_GetSlotInfo"), "slot"), state().slotList[0]);
    EXPECT_NE(state().slotList[0], 0xFFFFu);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, NoTokenIsMinusOneWithoutABoxAfterBothSlotListCalls) {
    standin().oversize(Standin::slotCount(), 0);
    EXPECT_EQ(p11CheckTokenPresent(fl(), state().slotList, &state().slotIndex), -1);
    EXPECT_EQ(standin().calls(), (std::vector<std::string>{"C_GetSlotList", "C_GetSlotList"}));
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, MoreTokensThanTheListHoldsKeepsTheFirstFive) {
    standin().oversize(Standin::slotCount(), 9);
    state().session = 0x5E55;  // the field right after the list: must not be overwritten
    state().slotIndex = 0;
    EXPECT_EQ(p11CheckTokenPresent(fl(), state().slotList, &state().slotIndex), 0);
    EXPECT_EQ(state().session, 0x5E55u);
    EXPECT_EQ(state().slotIndex, 0u);
    const auto second = standin().findCall("C_GetSlotList", 2);
    ASSERT_TRUE(second);
    EXPECT_EQ(standin().arg(*second, "count"), 9u);  // asked for as many as counted
    EXPECT_EQ(standin().arg(*standin().findCall("C_GetSlotInfo"), "slot"), state().slotList[0]);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, SessionIsOpenedOnceAndReused) {
    EXPECT_EQ(openSession(), static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));
    const CK_SESSION_HANDLE first = session();
    EXPECT_NE(first, 0u);
    const auto open = standin().findCall("C_OpenSession");
    ASSERT_TRUE(open);
    EXPECT_EQ(standin().arg(*open, "flags"), static_cast<unsigned long>(CKF_SERIAL_SESSION | CKF_RW_SESSION));
    EXPECT_EQ(standin().arg(*open, "applicationNull"), 1u);
    EXPECT_EQ(standin().arg(*open, "notifyNull"), 1u);
    EXPECT_EQ(standin().arg(*open, "slot"), state().slotList[0]);

    CK_STATE sessionState = 0;
    EXPECT_EQ(p11EnsureSession(fl(), state().slotList, 0, &state().session, &sessionState), 0);
    EXPECT_EQ(session(), first);
    EXPECT_EQ(standin().callsOf("C_OpenSession"), 1u);
    EXPECT_EQ(standin().calls().back(), "C_GetSessionInfo");
}

TEST_F(TokenSession, DroppedSessionIsReplaced) {
    openSession();
    login();
    ASSERT_GE(standin().dropSessions(), 1);
    standin().reset();
    CK_STATE sessionState = 0;
    EXPECT_EQ(p11EnsureSession(fl(), state().slotList, 0, &state().session, &sessionState), 0);
    EXPECT_EQ(standin().calls(),
              (std::vector<std::string>{"C_GetSessionInfo", "C_OpenSession", "C_GetSessionInfo"}));
    EXPECT_EQ(standin().rv(0), static_cast<CK_RV>(CKR_SESSION_HANDLE_INVALID));
    EXPECT_NE(session(), 0u);
    EXPECT_EQ(sessionState, static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));  // a new session is not logged in
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, TokenPulledWhileOpeningIsMinusOneWithoutABox) {
    p11CheckTokenPresent(fl(), state().slotList, &state().slotIndex);
    standin().fail("C_OpenSession", 1, CKR_TOKEN_NOT_PRESENT);
    CK_STATE sessionState = 0;
    EXPECT_EQ(p11EnsureSession(fl(), state().slotList, 0, &state().session, &sessionState), -1);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, LoginAndLogoutChangeTheSessionState) {
    openSession();
    login();
    CK_STATE sessionState = 0;
    EXPECT_EQ(p11EnsureSession(fl(), state().slotList, 0, &state().session, &sessionState), 0);
    EXPECT_EQ(sessionState, static_cast<CK_STATE>(CKS_RW_USER_FUNCTIONS));
    const auto loginCall = standin().findCall("C_Login");
    ASSERT_TRUE(loginCall);
    EXPECT_EQ(standin().arg(*loginCall, "userType"), static_cast<unsigned long>(CKU_USER));
    EXPECT_EQ(standin().bytes(*loginCall, "pin"), bytes(SoftHsmToken::kUserPin));

    // Already logged in counts as success.
    login();
    EXPECT_EQ(standin().rv(*standin().findCall("C_Login", 2)), static_cast<CK_RV>(CKR_USER_ALREADY_LOGGED_IN));

    EXPECT_EQ(p11Logout(fl(), session()), 0);
    EXPECT_EQ(p11EnsureSession(fl(), state().slotList, 0, &state().session, &sessionState), 0);
    EXPECT_EQ(sessionState, static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, WrongPinIsMinusFourAndLeavesTheSessionLoggedOut) {
    openSession();
    const Bytes wrong = bytes("654321");
    EXPECT_EQ(p11Login(fl(), session(), CKU_USER, wrong.data(), wrong.size()), -4);
    EXPECT_EQ(standin().rv(*standin().findCall("C_Login")), static_cast<CK_RV>(CKR_PIN_INCORRECT));
    EXPECT_TRUE(standin().forwarded(*standin().findCall("C_Login")));
    CK_STATE sessionState = 0;
    p11EnsureSession(fl(), state().slotList, 0, &state().session, &sessionState);
    EXPECT_EQ(sessionState, static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, PinOutsideSixToThirtyTwoBytesNeverReachesTheModule) {
    openSession();
    const std::string tooShort(5, '1');
    const std::string tooLong(33, '1');
    for (const std::string& pin : {tooShort, tooLong}) {
        EXPECT_EQ(p11Login(fl(), session(), CKU_USER, reinterpret_cast<const unsigned char*>(pin.data()),
                           pin.size()),
                  -6)
            << pin.size();
    }
    EXPECT_EQ(standin().callsOf("C_Login"), 0u);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, KeyPairIsGeneratedWithTheSpecifiedTemplates) {
    openSession();
    login();
    const Bytes name = bytes("container one");
    standin().reset();
    const CK_OBJECT_HANDLE publicKey = generate(name);
    const auto call = standin().findCall("C_GenerateKeyPair");
    ASSERT_TRUE(call);
    EXPECT_EQ(standin().arg(*call, "mechanism"), static_cast<unsigned long>(CKM_GOSTR3410_KEY_PAIR_GEN));
    EXPECT_EQ(standin().bytes(*call, "parameter"), std::nullopt);
    EXPECT_EQ(standin().arg(*call, "publicKeyOut"), publicKey);
    auto expected = [&](CK_OBJECT_CLASS cls) {
        return std::vector<RecordedAttribute>{
            attribute(CKA_CLASS, ulongBytes(cls)),
            attribute(CKA_TOKEN, {CK_TRUE}),
            attribute(CKA_KEY_TYPE, ulongBytes(CKK_GOSTR3410)),
            attribute(CKA_GOSTR3410_PARAMS, kCryptoProA),
            attribute(CKA_LABEL, kLabel),
            attribute(CKA_ID, name),
        };
    };
    EXPECT_EQ(standin().recordedTemplate(*call, "public"), expected(CKO_PUBLIC_KEY));
    EXPECT_EQ(standin().recordedTemplate(*call, "private"), expected(CKO_PRIVATE_KEY));
    EXPECT_TRUE(boxes_.boxes().empty());

    // The new container is found by its name: the public key, and the private key.
    EXPECT_EQ(find(name, 0), publicKey);
    const CK_OBJECT_HANDLE privateKey = find(name, 1);
    EXPECT_NE(privateKey, 0u);
    EXPECT_NE(privateKey, publicKey);
}

TEST_F(TokenSession, FindKeyTemplateCarriesTrustedOnlyWhenAsked) {
    openSession();
    login();
    const Bytes name = bytes("repair key");
    generate(name);
    standin().reset();

    EXPECT_NE(find(name, 0, 0), 0u);
    // SoftHSM's public keys are not trusted unless the security officer says so.
    EXPECT_EQ(find(name, 0, 1), 0u);

    const auto plain = standin().findCall("C_FindObjectsInit", 1);
    const auto trusted = standin().findCall("C_FindObjectsInit", 2);
    ASSERT_TRUE(plain && trusted);
    const std::vector<RecordedAttribute> four = {
        attribute(CKA_TOKEN, {CK_TRUE}), attribute(CKA_PRIVATE, {0}), attribute(CKA_LABEL, kLabel),
        attribute(CKA_ID, name)};
    EXPECT_EQ(standin().recordedTemplate(*plain, "template"), four);
    std::vector<RecordedAttribute> five = four;
    five.push_back(attribute(CKA_TRUSTED, {1}));
    EXPECT_EQ(standin().recordedTemplate(*trusted, "template"), five);
    EXPECT_EQ(standin().arg(*standin().findCall("C_FindObjects"), "maxCount"), 64u);
    EXPECT_EQ(standin().calls(),
              (std::vector<std::string>{"C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal",
                                        "C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal"}));
}

TEST_F(TokenSession, TwoKeysWithOneNameAreAsGoodAsNone) {
    openSession();
    login();
    const Bytes name = bytes("twice");
    generate(name);
    generate(name);
    EXPECT_EQ(find(name, 0), 0u);
    EXPECT_EQ(find(name, 1), 0u);
    EXPECT_EQ(find(bytes("never made"), 0), 0u);
}

TEST_F(TokenSession, ReadSignAndDestroy) {
    openSession();
    login();
    const Bytes name = bytes("signer");
    const CK_OBJECT_HANDLE publicKey = generate(name);
    const CK_OBJECT_HANDLE privateKey = find(name, 1);
    standin().reset();

    std::array<unsigned char, 64> value{};
    CK_ULONG valueLength = value.size();
    EXPECT_EQ(p11ReadKeyValue(fl(), session(), publicKey, value.data(), &valueLength), 0);
    EXPECT_EQ(valueLength, 64u);
    EXPECT_NE(value, (std::array<unsigned char, 64>{}));
    EXPECT_EQ(standin().callsOf("C_GetAttributeValue"), 2u);

    Bytes data(32);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i);
    std::array<unsigned char, 64> signature{};
    CK_ULONG signatureLength = signature.size();
    EXPECT_EQ(p11Sign(fl(), session(), privateKey, data.data(), data.size(), signature.data(),
                      &signatureLength),
              0);
    EXPECT_EQ(signatureLength, 64u);
    const auto init = standin().findCall("C_SignInit");
    ASSERT_TRUE(init);
    EXPECT_EQ(standin().arg(*init, "mechanism"), static_cast<unsigned long>(CKM_GOSTR3410));
    EXPECT_EQ(standin().arg(*init, "key"), privateKey);
    const auto sign1 = standin().findCall("C_Sign", 1);
    const auto sign2 = standin().findCall("C_Sign", 2);
    ASSERT_TRUE(sign1 && sign2);
    EXPECT_EQ(standin().arg(*sign1, "signatureNull"), 1u);
    EXPECT_EQ(standin().arg(*sign2, "signatureNull"), 0u);
    EXPECT_EQ(standin().bytes(*sign2, "data"), data);

    // The token itself accepts the signature under the container's public key.
    CK_MECHANISM mechanism = {CKM_GOSTR3410, nullptr, 0};
    ASSERT_EQ(fl()->C_VerifyInit(session(), &mechanism, publicKey), CKR_OK);
    EXPECT_EQ(fl()->C_Verify(session(), data.data(), data.size(), signature.data(), signatureLength), CKR_OK);
    signature[5] ^= 1;
    ASSERT_EQ(fl()->C_VerifyInit(session(), &mechanism, publicKey), CKR_OK);
    EXPECT_EQ(fl()->C_Verify(session(), data.data(), data.size(), signature.data(), signatureLength),
              static_cast<CK_RV>(CKR_SIGNATURE_INVALID));

    EXPECT_EQ(p11DestroyObject(fl(), session(), privateKey), 0);
    EXPECT_EQ(p11DestroyObject(fl(), session(), publicKey), 0);
    EXPECT_EQ(find(name, 0), 0u);
    EXPECT_EQ(find(name, 1), 0u);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, KeyValueLongerThanTheBufferIsRefused) {
    openSession();
    login();
    const CK_OBJECT_HANDLE publicKey = generate(bytes("long value"));
    standin().reset();
    standin().oversize(Standin::ckaValue(), 65);
    auto buffer = std::make_unique<unsigned char[]>(64);  // exactly 64: a write past it is caught
    CK_ULONG length = 64;
    EXPECT_EQ(p11ReadKeyValue(fl(), session(), publicKey, buffer.get(), &length), -10);
    EXPECT_EQ(length, 65u);
    EXPECT_EQ(standin().callsOf("C_GetAttributeValue"), 1u);
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, SignatureLongerThanTheBufferIsRefusedAndTheSessionStaysUsable) {
    openSession();
    login();
    const Bytes name = bytes("long signature");
    generate(name);
    const CK_OBJECT_HANDLE privateKey = find(name, 1);
    const Bytes data(32, 0x11);
    standin().oversize(Standin::signature(), 100);
    auto signature = std::make_unique<unsigned char[]>(64);
    CK_ULONG length = 64;
    EXPECT_EQ(p11Sign(fl(), session(), privateKey, data.data(), data.size(), signature.get(), &length), -10);
    EXPECT_EQ(length, 100u);
    EXPECT_TRUE(boxes_.boxes().empty());

    // The operation was finished: the next signature works.
    standin().reset();
    length = 64;
    EXPECT_EQ(p11Sign(fl(), session(), privateKey, data.data(), data.size(), signature.get(), &length), 0);
    EXPECT_EQ(length, 64u);
}

TEST_F(TokenSession, GenerationFailingForDeviceReasonsIsMinusForty) {
    openSession();
    login();
    for (CK_RV rv : {CKR_DEVICE_ERROR, CKR_DEVICE_MEMORY}) {
        standin().fail("C_GenerateKeyPair", 1, rv);
        CK_OBJECT_HANDLE publicKey = 77;
        const Bytes name = bytes("device");
        EXPECT_EQ(p11GenerateKeyPair(fl(), session(), name.data(), name.size(), &publicKey), -40) << rv;
    }
    EXPECT_TRUE(boxes_.boxes().empty());
}

TEST_F(TokenSession, GenerationFailingOtherwiseIsZeroWithHandleZeroAndNoBox) {
    openSession();
    const Bytes name = bytes("not logged in");
    // Real refusal first: SoftHSM will not make private token objects without a login.
    CK_OBJECT_HANDLE publicKey = 77;
    EXPECT_EQ(p11GenerateKeyPair(fl(), session(), name.data(), name.size(), &publicKey), 0);
    EXPECT_EQ(publicKey, 0u);
    EXPECT_EQ(standin().rv(*standin().findCall("C_GenerateKeyPair")), static_cast<CK_RV>(CKR_USER_NOT_LOGGED_IN));
    login();
    for (CK_RV rv : {CKR_GENERAL_ERROR, CKR_TEMPLATE_INCONSISTENT, CKR_FUNCTION_FAILED,
                     static_cast<CK_RV>(0x80000001UL)}) {
        standin().fail("C_GenerateKeyPair", 1, rv);
        publicKey = 77;
        EXPECT_EQ(p11GenerateKeyPair(fl(), session(), name.data(), name.size(), &publicKey), 0) << rv;
        EXPECT_EQ(publicKey, 0u);
    }
    EXPECT_TRUE(boxes_.boxes().empty());
}

// ---- The container listing ----

class ContainerListing : public TokenFixture {
protected:
    // A container made past the layer, as another program makes one: the layer's templates
    // with any CKA_ID.
    CK_RV generateElsewhere(const Bytes& id, CK_OBJECT_HANDLE& publicKey, CK_OBJECT_HANDLE& privateKey) {
        CK_MECHANISM mechanism = {CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
        CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY, privateClass = CKO_PRIVATE_KEY;
        CK_KEY_TYPE type = CKK_GOSTR3410;
        CK_BBOOL yes = CK_TRUE;
        Bytes params = kCryptoProA, label = kLabel, idBytes = id;
        CK_ATTRIBUTE pub[6] = {
            {CKA_CLASS, &publicClass, sizeof publicClass}, {CKA_TOKEN, &yes, 1},
            {CKA_KEY_TYPE, &type, sizeof type},           {CKA_GOSTR3410_PARAMS, params.data(), params.size()},
            {CKA_LABEL, label.data(), label.size()},       {CKA_ID, idBytes.data(), idBytes.size()},
        };
        CK_ATTRIBUTE priv[6] = {
            {CKA_CLASS, &privateClass, sizeof privateClass}, {CKA_TOKEN, &yes, 1},
            {CKA_KEY_TYPE, &type, sizeof type},             {CKA_GOSTR3410_PARAMS, params.data(), params.size()},
            {CKA_LABEL, label.data(), label.size()},         {CKA_ID, idBytes.data(), idBytes.size()},
        };
        return fl()->C_GenerateKeyPair(session(), &mechanism, pub, 6, priv, 6, &publicKey, &privateKey);
    }

    std::uint32_t list() {
        std::uint32_t count = 0xFFFF;
        EXPECT_EQ(p11ListContainers(fl(), session(), &count, &state().containers), 0);
        return count;
    }
    // The name of entry `index` as the scripting object reads it: length, then the bytes.
    std::int32_t name(std::int32_t index, Bytes& out) {
        std::uint32_t length = 0;
        std::int32_t status = p11GetContainerName(&state().containers, index, nullptr, &length);
        if (status != 0)
            return status;
        out.assign(length, 0);
        return p11GetContainerName(&state().containers, index, out.data(), &length);
    }
};

TEST_F(ContainerListing, EmptyTokenListsNothing) {
    openSession();
    EXPECT_EQ(list(), 0u);
    Bytes out;
    EXPECT_EQ(name(0, out), -20);
    const auto init = standin().findCall("C_FindObjectsInit");
    ASSERT_TRUE(init);
    EXPECT_EQ(standin().recordedTemplate(*init, "template"),
              (std::vector<RecordedAttribute>{attribute(CKA_CLASS, ulongBytes(CKO_PUBLIC_KEY)),
                                              attribute(CKA_TOKEN, {CK_TRUE}), attribute(CKA_PRIVATE, {CK_FALSE}),
                                              attribute(CKA_LABEL, kLabel)}));
    EXPECT_EQ(standin().callsOf("C_GetAttributeValue"), 0u);
}

TEST_F(ContainerListing, OneContainerIsListedByItsName) {
    openSession();
    login();
    const Bytes container = bytes("first");
    generate(container);
    standin().reset();
    EXPECT_EQ(list(), 1u);
    Bytes out;
    EXPECT_EQ(name(0, out), 0);
    EXPECT_EQ(out, container);
    EXPECT_EQ(name(1, out), -20);
    EXPECT_EQ(standin().calls(),
              (std::vector<std::string>{"C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal",
                                        "C_GetAttributeValue", "C_GetAttributeValue"}));
}

TEST_F(ContainerListing, AtMostSixtyFourContainersAreSeen) {
    openSession();
    login();
    for (int i = 0; i < 66; ++i)
        generate(bytes("c" + std::to_string(i)));
    EXPECT_EQ(list(), 64u);
    std::set<Bytes> seen;
    for (std::int32_t i = 0; i < 64; ++i) {
        Bytes out;
        ASSERT_EQ(name(i, out), 0) << i;
        seen.insert(out);
    }
    EXPECT_EQ(seen.size(), 64u);
}

TEST_F(ContainerListing, NameThatPrefixesThePlaceholderReadsAsEmpty) {
    openSession();
    login();
    generate(bytes("///*"));
    EXPECT_EQ(list(), 1u);
    Bytes out;
    std::uint32_t length = 0;
    EXPECT_EQ(p11GetContainerName(&state().containers, 0, nullptr, &length), 0);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(name(0, out), -20);
}

TEST_F(ContainerListing, ListingResetsTheTableFirst) {
    openSession();
    login();
    generate(bytes("a"));
    generate(bytes("b"));
    EXPECT_EQ(list(), 2u);
    const CK_OBJECT_HANDLE privateKey = find(bytes("b"), 1);
    const CK_OBJECT_HANDLE publicKey = find(bytes("b"), 0);
    ASSERT_EQ(p11DestroyObject(fl(), session(), privateKey), 0);
    ASSERT_EQ(p11DestroyObject(fl(), session(), publicKey), 0);
    Bytes out;
    EXPECT_EQ(name(1, out), 0);  // the table keeps the last listing until the next one
    EXPECT_EQ(list(), 1u);
    EXPECT_EQ(name(0, out), 0);
    EXPECT_EQ(out, bytes("a"));
    EXPECT_EQ(name(1, out), -20);
}

TEST_F(ContainerListing, NameLongerThanAnEntryKeepsThePlaceholderAndTheListingGoesOn) {
    openSession();
    login();
    generate(bytes("first"));
    // Another program made a key pair whose CKA_ID no entry can hold.
    const Bytes longId(1500, 'L');
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    ASSERT_EQ(generateElsewhere(longId, publicKey, privateKey), static_cast<CK_RV>(CKR_OK));
    generate(bytes("third"));
    standin().reset();

    for (int listing = 0; listing < 2; ++listing) {  // every listing, not only the first
        EXPECT_EQ(list(), 3u);
        std::set<Bytes> names;
        int empty = 0;
        for (std::int32_t i = 0; i < 3; ++i) {
            Bytes out;
            const std::int32_t status = name(i, out);
            EXPECT_TRUE(status == 0 || status == -20) << i << ": " << status;
            if (status == -20)
                ++empty;
            else
                names.insert(out);
        }
        EXPECT_EQ(empty, 1);
        EXPECT_EQ(names, (std::set<Bytes>{bytes("first"), bytes("third")}));
    }
    // The long one is not read at all: one length query for it, two calls for the others.
    EXPECT_EQ(standin().callsOf("C_GetAttributeValue"), 2u * 5u);
    EXPECT_TRUE(boxes_.boxes().empty());

    // Exactly 1024 bytes still fit.
    standin().reset();
    standin().oversize(Standin::ckaId(), 1024);
    EXPECT_EQ(list(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(state().containers.entries[i].length, 1024u) << i;
    EXPECT_EQ(state().containers.entries[3].length, 28u);
}

TEST_F(TokenSession, GenerationRefusesANameNoEntryCouldHold) {
    openSession();
    login();
    const Bytes tooLong(kContainerNameSize + 1, 'n');
    CK_OBJECT_HANDLE publicKey = 77;
    EXPECT_EQ(p11GenerateKeyPair(fl(), session(), tooLong.data(), tooLong.size(), &publicKey), -10);
    EXPECT_EQ(standin().callsOf("C_GenerateKeyPair"), 0u);
    EXPECT_TRUE(boxes_.boxes().empty());
    const Bytes longest(kContainerNameSize, 'n');
    EXPECT_EQ(p11GenerateKeyPair(fl(), session(), longest.data(), longest.size(), &publicKey), 0);
    EXPECT_NE(publicKey, 0u);
}

// Sizes no token can answer are the module's failure, before anything is sized by them;
// just below the bound the layer goes on as for any size.
TEST_F(TokenSession, ClaimsNoTokenCouldAnswerAreTheCallsFailure) {
    openSession();
    login();
    const Bytes name = bytes("claims");
    const CK_OBJECT_HANDLE publicKey = generate(name);
    const CK_OBJECT_HANDLE privateKey = find(name, 1);
    auto present = [&] { return p11CheckTokenPresent(fl(), state().slotList, &state().slotIndex); };
    auto sign = [&] {
        const Bytes data(32, 0x22);
        auto signature = std::make_unique<unsigned char[]>(64);
        CK_ULONG length = 64;
        return p11Sign(fl(), session(), privateKey, data.data(), data.size(), signature.get(), &length);
    };
    auto readValue = [&] {
        auto value = std::make_unique<unsigned char[]>(64);
        CK_ULONG length = 64;
        return p11ReadKeyValue(fl(), session(), publicKey, value.get(), &length);
    };
    auto listing = [&] {
        std::uint32_t count = 0;
        return p11ListContainers(fl(), session(), &count, &state().containers);
    };
    const struct {
        const char* what;
        CK_ULONG claimed;
        std::function<std::int32_t()> run;
        std::int32_t status;
        const char* caption;  // of the box, or null for none
        const char* lastCall;
        std::size_t calls;    // of lastCall
    } cases[] = {
        {Standin::slotCount(), kMaxSlotCount, present, 0, nullptr, "C_GetSlotInfo", 1},
        {Standin::slotCount(), kMaxSlotCount + 1, present, -85, "C_GetSlotList 1", "C_GetSlotList", 1},
        {Standin::slotCount(), 0x80000000UL, present, -85, "C_GetSlotList 1", "C_GetSlotList", 1},
        {Standin::signature(), kMaxSignatureLength, sign, -10, nullptr, "C_Sign", 2},
        {Standin::signature(), kMaxSignatureLength + 1, sign, -85, "C_Sign 1", "C_Sign", 1},
        {Standin::signature(), 0x80000000UL, sign, -85, "C_Sign 1", "C_Sign", 1},
        {Standin::ckaValue(), kMaxAttributeLength + 1, readValue, -85, "C_GetAttributeValue 1", "C_GetAttributeValue", 1},
        {Standin::ckaValue(), 0x80000000UL, readValue, -85, "C_GetAttributeValue 1", "C_GetAttributeValue", 1},
        {Standin::ckaId(), kMaxAttributeLength, listing, 0, nullptr, "C_GetAttributeValue", 1},
        {Standin::ckaId(), kMaxAttributeLength + 1, listing, -85, "C_GetAttributeValue 1", "C_GetAttributeValue", 1},
        {Standin::ckaId(), 0x80000000UL, listing, -85, "C_GetAttributeValue 1", "C_GetAttributeValue", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " " + std::to_string(c.claimed));
        standin().reset();
        boxes_.clear();
        standin().oversize(c.what, c.claimed);
        EXPECT_EQ(c.run(), c.status);
        if (c.caption) {
            ASSERT_EQ(boxes_.boxes().size(), 1u);
            EXPECT_EQ(boxes_.boxes()[0], (ShownBox{pkcs11ErrorText(CKR_GENERAL_ERROR), c.caption}));
        } else {
            EXPECT_TRUE(boxes_.boxes().empty());
        }
        EXPECT_EQ(standin().calls().back(), c.lastCall);
        EXPECT_EQ(standin().callsOf(c.lastCall), c.calls);
        if (std::string(c.what) == Standin::signature() && c.status == -85) {
            // Finishing the signing operation would take a buffer of the claimed size, so it
            // is still active in SoftHSM: end it before the next case signs.
            standin().reset();
            Bytes data(32, 0x22);
            std::array<unsigned char, 64> scratch{};
            CK_ULONG length = scratch.size();
            fl()->C_Sign(session(), data.data(), data.size(), scratch.data(), &length);
        }
    }
}

TEST_F(ContainerListing, FailedSearchDoesNotBlockTheNextOne) {
    openSession();
    standin().fail("C_FindObjects", 1, CKR_GENERAL_ERROR);
    std::uint32_t count = 0;
    EXPECT_EQ(p11ListContainers(fl(), session(), &count, &state().containers), -80 - 5);
    EXPECT_EQ(list(), 0u);
    ASSERT_EQ(boxes_.boxes().size(), 1u);
}

} // namespace
