// The chain the token tests stand on: the olpkcs11xsg stand-in loaded like the vendor
// module, forwarding to SoftHSM with GOST, recording calls and injecting faults.

#include "SoftHsmToken.h"
#include "Standin.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using orv::test::attribute;
using orv::test::RecordedAttribute;
using orv::test::SoftHsmToken;
using orv::test::Standin;

using Bytes = std::vector<unsigned char>;

const Bytes kCryptoProA = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
const Bytes kContainerLabel = {'p', 'e', 'l', 'o', 'r', 'i', 'm', 'a', ' ', 'v', '.', '1', '0'};

// A CK_ULONG attribute value as the module's ABI lays it out.
Bytes ulongBytes(CK_ULONG v)
{
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    return b;
}

class StandinChain : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Found among the loaded modules and asked for its list, as the plug-in does.
        module_ = dlopen(Standin::modulePath().c_str(), RTLD_NOLOAD | RTLD_NOW);
        ASSERT_NE(module_, nullptr) << "the stand-in is not loaded";
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module_, "C_GetFunctionList"));
        ASSERT_NE(getList, nullptr);
        ASSERT_EQ(getList(&fl_), CKR_OK);
        ASSERT_NE(fl_, nullptr);
        ASSERT_EQ(fl_->C_Initialize(nullptr), CKR_OK);
    }

    void TearDown() override
    {
        if (fl_ && standin().targetInitialized()) {
            EXPECT_EQ(fl_->C_Finalize(nullptr), CKR_OK);
        }
        if (module_)
            dlclose(module_);
    }

    Standin& standin() { return token_.standin(); }

    // The plug-in always uses the first slot with a token: it must be the fixture's.
    CK_SLOT_ID firstTokenSlot()
    {
        CK_ULONG count = 0;
        EXPECT_EQ(fl_->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
        std::vector<CK_SLOT_ID> slots(count);
        EXPECT_EQ(fl_->C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
        if (count == 0) {
            ADD_FAILURE() << "no slot with a token";
            return 0;
        }
        CK_TOKEN_INFO info;
        EXPECT_EQ(fl_->C_GetTokenInfo(slots[0], &info), CKR_OK);
        std::string label(reinterpret_cast<const char*>(info.label), sizeof info.label);
        EXPECT_EQ(label.substr(0, label.find_last_not_of(' ') + 1), SoftHsmToken::kLabel);
        EXPECT_TRUE(info.flags & CKF_TOKEN_INITIALIZED);
        EXPECT_TRUE(info.flags & CKF_USER_PIN_INITIALIZED);
        return slots[0];
    }

    CK_SESSION_HANDLE loggedInSession()
    {
        CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
        EXPECT_EQ(fl_->C_OpenSession(firstTokenSlot(), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                     &session),
                  CKR_OK);
        std::string pin = SoftHsmToken::kUserPin;
        EXPECT_EQ(fl_->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size()),
                  CKR_OK);
        return session;
    }

    SoftHsmToken token_;
    void* module_ = nullptr;
    CK_FUNCTION_LIST* fl_ = nullptr;
};

// The key-pair templates of a container, in the attribute order the plug-in sends them.
struct ContainerTemplates {
    explicit ContainerTemplates(const Bytes& name) : id(name) {}

    CK_OBJECT_CLASS publicClass = CKO_PUBLIC_KEY, privateClass = CKO_PRIVATE_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_KEY_TYPE keyType = CKK_GOSTR3410;
    Bytes params = kCryptoProA, label = kContainerLabel, id;

    std::vector<CK_ATTRIBUTE> make(CK_OBJECT_CLASS* cls)
    {
        return {
            {CKA_CLASS, cls, sizeof *cls},
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_KEY_TYPE, &keyType, sizeof keyType},
            {CKA_GOSTR3410_PARAMS, params.data(), params.size()},
            {CKA_LABEL, label.data(), label.size()},
            {CKA_ID, id.data(), id.size()},
        };
    }
    std::vector<RecordedAttribute> expected(CK_OBJECT_CLASS cls) const
    {
        return {attribute(CKA_CLASS, ulongBytes(cls)),       attribute(CKA_TOKEN, {CK_TRUE}),
                attribute(CKA_KEY_TYPE, ulongBytes(keyType)), attribute(CKA_GOSTR3410_PARAMS, params),
                attribute(CKA_LABEL, label),                  attribute(CKA_ID, id)};
    }
};

TEST_F(StandinChain, GeneratesAGostKeyPairAndSignsOnSoftHsm)
{
    CK_SESSION_HANDLE session = loggedInSession();

    ContainerTemplates t(Bytes{'c', 'o', 'n', 't', 'a', 'i', 'n', 'e', 'r', ' ', '1'});
    std::vector<CK_ATTRIBUTE> pub = t.make(&t.publicClass), priv = t.make(&t.privateClass);
    CK_MECHANISM generate = {CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE pubKey = 0, privKey = 0;
    ASSERT_EQ(fl_->C_GenerateKeyPair(session, &generate, pub.data(), pub.size(), priv.data(), priv.size(), &pubKey,
                                     &privKey),
              CKR_OK);
    EXPECT_NE(pubKey, 0u);
    EXPECT_NE(privKey, 0u);

    // The public value: two 32-byte coordinates.
    Bytes value(64);
    CK_ATTRIBUTE valueAttr = {CKA_VALUE, value.data(), value.size()};
    ASSERT_EQ(fl_->C_GetAttributeValue(session, pubKey, &valueAttr, 1), CKR_OK);
    EXPECT_EQ(valueAttr.ulValueLen, 64u);

    Bytes data(32);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(0x1F - i);
    CK_MECHANISM sign = {CKM_GOSTR3410, nullptr, 0};
    ASSERT_EQ(fl_->C_SignInit(session, &sign, privKey), CKR_OK);
    CK_ULONG sigLength = 0;
    ASSERT_EQ(fl_->C_Sign(session, data.data(), data.size(), nullptr, &sigLength), CKR_OK);
    ASSERT_EQ(sigLength, 64u);
    Bytes signature(sigLength);
    ASSERT_EQ(fl_->C_Sign(session, data.data(), data.size(), signature.data(), &sigLength), CKR_OK);

    // The signature is a real one: the token verifies it with the public key.
    ASSERT_EQ(fl_->C_VerifyInit(session, &sign, pubKey), CKR_OK);
    EXPECT_EQ(fl_->C_Verify(session, data.data(), data.size(), signature.data(), signature.size()), CKR_OK);
    ASSERT_EQ(fl_->C_VerifyInit(session, &sign, pubKey), CKR_OK);
    signature[5] ^= 0x01;
    EXPECT_EQ(fl_->C_Verify(session, data.data(), data.size(), signature.data(), signature.size()),
              CKR_SIGNATURE_INVALID);

    const std::vector<std::string> expectedCalls = {
        "C_GetFunctionList", "C_Initialize", "C_GetSlotList", "C_GetSlotList",       "C_GetTokenInfo",
        "C_OpenSession",     "C_Login",      "C_GenerateKeyPair", "C_GetAttributeValue", "C_SignInit",
        "C_Sign",            "C_Sign",       "C_VerifyInit",  "C_Verify",            "C_VerifyInit",
        "C_Verify"};
    EXPECT_EQ(standin().calls(), expectedCalls);

    // The templates as the caller sent them, not as SoftHSM was given them.
    auto gen = standin().findCall("C_GenerateKeyPair");
    ASSERT_TRUE(gen);
    EXPECT_EQ(standin().arg(*gen, "mechanism"), CKM_GOSTR3410_KEY_PAIR_GEN);
    EXPECT_EQ(standin().recordedTemplate(*gen, "public"), t.expected(CKO_PUBLIC_KEY));
    EXPECT_EQ(standin().recordedTemplate(*gen, "private"), t.expected(CKO_PRIVATE_KEY));

    auto login = standin().findCall("C_Login");
    ASSERT_TRUE(login);
    EXPECT_EQ(standin().arg(*login, "userType"), CKU_USER);
    EXPECT_EQ(standin().arg(*login, "pinLength"), std::strlen(SoftHsmToken::kUserPin));

    auto signInit = standin().findCall("C_SignInit");
    ASSERT_TRUE(signInit);
    EXPECT_EQ(standin().arg(*signInit, "mechanism"), CKM_GOSTR3410);
    EXPECT_EQ(standin().arg(*signInit, "key"), privKey);
    auto secondSign = standin().findCall("C_Sign", 2);
    ASSERT_TRUE(secondSign);
    EXPECT_EQ(standin().bytes(*secondSign, "data"), data);
    EXPECT_EQ(standin().arg(*secondSign, "signatureNull"), 0u);
    EXPECT_EQ(standin().arg(*secondSign, "signatureLengthOut"), 64u);
}

TEST_F(StandinChain, InjectedFaultAnswersTheNthCallWithoutReachingTheToken)
{
    CK_SESSION_HANDLE session = loggedInSession();
    standin().fail("C_Logout", 2, CKR_DEVICE_ERROR);

    EXPECT_EQ(fl_->C_Logout(session), CKR_OK);
    std::string pin = SoftHsmToken::kUserPin;
    ASSERT_EQ(fl_->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size()), CKR_OK);
    EXPECT_EQ(fl_->C_Logout(session), CKR_DEVICE_ERROR);
    // The faulted logout never reached SoftHSM: the user is still logged in there.
    CK_SESSION_INFO info;
    ASSERT_EQ(fl_->C_GetSessionInfo(session, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_USER_FUNCTIONS);
    // The fault fired once.
    EXPECT_EQ(fl_->C_Logout(session), CKR_OK);

    auto faulted = standin().findCall("C_Logout", 2);
    ASSERT_TRUE(faulted);
    EXPECT_EQ(standin().rv(*faulted), CKR_DEVICE_ERROR);
    EXPECT_FALSE(standin().forwarded(*faulted));
    EXPECT_TRUE(standin().forwarded(*standin().findCall("C_Logout", 3)));
}

TEST_F(StandinChain, OversizedSlotCountFollowsPkcs11BufferRules)
{
    standin().oversize(Standin::slotCount(), 7);
    CK_ULONG count = 0;
    ASSERT_EQ(fl_->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 7u);
    CK_SLOT_ID five[5] = {};
    count = 5;
    EXPECT_EQ(fl_->C_GetSlotList(CK_TRUE, five, &count), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 7u);

    CK_SLOT_ID room[8];
    std::fill(std::begin(room), std::end(room), CK_SLOT_ID(0xEEEE));
    count = 8;
    ASSERT_EQ(fl_->C_GetSlotList(CK_TRUE, room, &count), CKR_OK);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(room[0], firstTokenSlot());
    EXPECT_EQ(room[7], CK_SLOT_ID(0xEEEE)); // nothing past the reported count

    standin().oversize(Standin::slotCount(), 0);
    count = 3;
    ASSERT_EQ(fl_->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(StandinChain, OversizedLengthsAreReportedAndWrittenOnlyIntoRoomAnnounced)
{
    CK_SESSION_HANDLE session = loggedInSession();
    ContainerTemplates t(Bytes{'k'});
    std::vector<CK_ATTRIBUTE> pub = t.make(&t.publicClass), priv = t.make(&t.privateClass);
    CK_MECHANISM generate = {CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE pubKey = 0, privKey = 0;
    ASSERT_EQ(fl_->C_GenerateKeyPair(session, &generate, pub.data(), pub.size(), priv.data(), priv.size(), &pubKey,
                                     &privKey),
              CKR_OK);

    standin().oversize(Standin::signature(), 100);
    CK_MECHANISM sign = {CKM_GOSTR3410, nullptr, 0};
    Bytes data(32, 0xAB);
    ASSERT_EQ(fl_->C_SignInit(session, &sign, privKey), CKR_OK);
    CK_ULONG length = 0;
    ASSERT_EQ(fl_->C_Sign(session, data.data(), data.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 100u);
    Bytes small(64);
    length = small.size();
    EXPECT_EQ(fl_->C_Sign(session, data.data(), data.size(), small.data(), &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, 100u);
    Bytes room(120, 0x00);
    length = room.size();
    ASSERT_EQ(fl_->C_Sign(session, data.data(), data.size(), room.data(), &length), CKR_OK);
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(room[99], 0x5A);  // filler past the real 64 bytes
    EXPECT_EQ(room[100], 0x00); // nothing past the announced length

    standin().oversize(Standin::ckaValue(), 65);
    Bytes value(64);
    CK_ATTRIBUTE attr = {CKA_VALUE, nullptr, 0};
    ASSERT_EQ(fl_->C_GetAttributeValue(session, pubKey, &attr, 1), CKR_OK);
    EXPECT_EQ(attr.ulValueLen, 65u);
    attr = {CKA_VALUE, value.data(), value.size()};
    EXPECT_EQ(fl_->C_GetAttributeValue(session, pubKey, &attr, 1), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(attr.ulValueLen, CK_UNAVAILABLE_INFORMATION);

    // A CKA_ID longer than a container name, given all the room it asks for.
    standin().oversize(Standin::ckaId(), 1100);
    Bytes id(1200, 0x00);
    CK_ATTRIBUTE idAttr = {CKA_ID, id.data(), id.size()};
    ASSERT_EQ(fl_->C_GetAttributeValue(session, privKey, &idAttr, 1), CKR_OK);
    EXPECT_EQ(idAttr.ulValueLen, 1100u);
    EXPECT_EQ(id[0], 'k'); // the real CKA_ID first
    EXPECT_EQ(id[1], 0x5A);
    EXPECT_EQ(id[1099], 0x5A);
    EXPECT_EQ(id[1100], 0x00);
}

TEST_F(StandinChain, DroppedSessionIsInvalidAtTheToken)
{
    CK_SESSION_HANDLE session = loggedInSession();
    EXPECT_EQ(standin().dropSessions(), 1);
    CK_SESSION_INFO info;
    EXPECT_EQ(fl_->C_GetSessionInfo(session, &info), CKR_SESSION_HANDLE_INVALID);
    CK_SESSION_HANDLE fresh = CK_INVALID_HANDLE;
    ASSERT_EQ(fl_->C_OpenSession(firstTokenSlot(), CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &fresh),
              CKR_OK);
    ASSERT_EQ(fl_->C_GetSessionInfo(fresh, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION); // the token forgot the login with the session
}

// SoftHSM crashes at exit when C_Finalize was never called; the stand-in finalises it from
// an exit handler, so a test that stops half-way does not take the process down with it.
void initialiseLogInAndExit()
{
    void* module = dlopen(Standin::modulePath().c_str(), RTLD_NOW);
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    CK_FUNCTION_LIST* fl = nullptr;
    if (!getList || getList(&fl) != CKR_OK || fl->C_Initialize(nullptr) != CKR_OK)
        std::_Exit(2);
    CK_SLOT_ID slots[8];
    CK_ULONG count = 8;
    CK_SESSION_HANDLE session = 0;
    std::string pin = SoftHsmToken::kUserPin;
    unsigned char random[32];
    if (fl->C_GetSlotList(CK_TRUE, slots, &count) != CKR_OK || count == 0 ||
        fl->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session) != CKR_OK ||
        fl->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(&pin[0]), pin.size()) != CKR_OK ||
        fl->C_GenerateRandom(session, random, sizeof random) != CKR_OK)
        std::_Exit(3);
    std::exit(0);
}

TEST(StandinExit, ProcessLeavingSoftHsmInitialisedExitsCleanly)
{
    SoftHsmToken token;
    EXPECT_EXIT(initialiseLogInAndExit(), ::testing::ExitedWithCode(0), "");
}

} // namespace
