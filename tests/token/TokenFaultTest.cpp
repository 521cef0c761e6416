// Failures injected by the stand-in: how each PKCS#11 return code becomes a status, and the
// error box of every call site.

#include "TokenFixture.h"

#include <array>
#include <functional>

namespace {

using namespace orv;
using namespace orv::test;

class TokenFaults : public TokenFixture {
protected:
    void SetUp() override {
        TokenFixture::SetUp();
        if (HasFatalFailure())
            return;
        openSession();
        login();
        publicKey_ = generate(name_);
        privateKey_ = find(name_, 1);
        ASSERT_NE(privateKey_, 0u);
        standin().reset();
        boxes_.clear();
    }

    // An injected failure never reaches SoftHSM, so a search or signature it interrupted is
    // still active there; a real module ends it with the failure.
    void endOperations() {
        fl()->C_FindObjectsFinal(session());
        std::array<unsigned char, 32> data{};
        std::array<unsigned char, 64> signature{};
        CK_ULONG length = signature.size();
        fl()->C_Sign(session(), data.data(), data.size(), signature.data(), &length);
    }

public:
    const Bytes name_ = bytes("fault site");
    CK_OBJECT_HANDLE publicKey_ = 0;
    CK_OBJECT_HANDLE privateKey_ = 0;
};

struct LoginCase {
    CK_RV rv;
    std::int32_t status;
    bool box;
};

TEST_F(TokenFaults, LoginReturnCodesMapToStatuses) {
    const LoginCase cases[] = {
        {CKR_OK, 0, false},
        {CKR_USER_ALREADY_LOGGED_IN, 0, false},
        {CKR_PIN_INVALID, -3, false},
        {CKR_PIN_INCORRECT, -4, false},
        {CKR_PIN_LOCKED, -5, false},
        {CKR_PIN_LEN_RANGE, -6, false},
        {CKR_GENERAL_ERROR, -85, true},
        {CKR_USER_TYPE_INVALID, -80 - 0x103, true},
        {0x80000001UL, 2147483567, true},
    };
    const Bytes pin = bytes(SoftHsmToken::kUserPin);
    for (const LoginCase& c : cases) {
        boxes_.clear();
        standin().fail("C_Login", 1, c.rv);
        EXPECT_EQ(p11Login(fl(), session(), CKU_USER, pin.data(), pin.size()), c.status) << std::hex << c.rv;
        if (c.box) {
            ASSERT_EQ(boxes_.boxes().size(), 1u) << std::hex << c.rv;
            EXPECT_EQ(boxes_.boxes()[0], (ShownBox{pkcs11ErrorText(c.rv), "C_Login"}));
        } else {
            EXPECT_TRUE(boxes_.boxes().empty()) << std::hex << c.rv;
        }
    }
}

TEST_F(TokenFaults, VendorCodeAboveTheSignBitIsPrintedUnsigned) {
    standin().fail("C_Logout", 1, 0x80000001UL);
    const std::int32_t status = p11Logout(fl(), session());
    EXPECT_EQ(status, 2147483567);
    EXPECT_EQ(static_cast<std::uint32_t>(status), 0x7FFFFFAFu);
    ASSERT_EQ(boxes_.boxes().size(), 1u);
    EXPECT_EQ(boxes_.boxes()[0], (ShownBox{"some pkcs11 error 0x80000001", "C_Logout"}));
}

// One PKCS#11 call site: the call made to fail, and the layer function that makes it.
struct CallSite {
    const char* function;
    unsigned nth;
    const char* caption;
    std::function<std::int32_t(TokenFaults&)> run;
};

TEST_F(TokenFaults, EveryCallSiteShowsItsCaptionAndGivesMinusEightyMinusRv) {
    auto present = [](TokenFaults& t) {
        return p11CheckTokenPresent(t.fl(), t.state().slotList, &t.state().slotIndex);
    };
    auto ensure = [](TokenFaults& t) {
        CK_STATE s = 0;
        return p11EnsureSession(t.fl(), t.state().slotList, 0, &t.state().session, &s);
    };
    auto ensureAfterDrop = [](TokenFaults& t) {
        t.standin().dropSessions();
        CK_STATE s = 0;
        return p11EnsureSession(t.fl(), t.state().slotList, 0, &t.state().session, &s);
    };
    auto findKey = [](TokenFaults& t) {
        CK_OBJECT_HANDLE h = 0;
        return p11FindKey(t.fl(), t.session(), t.name_.data(), t.name_.size(), 1, 0, &h);
    };
    auto listing = [](TokenFaults& t) {
        std::uint32_t count = 0;
        return p11ListContainers(t.fl(), t.session(), &count, &t.state().containers);
    };
    auto readValue = [](TokenFaults& t) {
        std::array<unsigned char, 64> value{};
        CK_ULONG length = value.size();
        return p11ReadKeyValue(t.fl(), t.session(), t.publicKey_, value.data(), &length);
    };
    auto sign = [](TokenFaults& t) {
        std::array<unsigned char, 32> data{};
        std::array<unsigned char, 64> signature{};
        CK_ULONG length = signature.size();
        return p11Sign(t.fl(), t.session(), t.privateKey_, data.data(), data.size(), signature.data(),
                       &length);
    };
    auto login = [](TokenFaults& t) {
        const Bytes pin = bytes(SoftHsmToken::kUserPin);
        return p11Login(t.fl(), t.session(), CKU_USER, pin.data(), pin.size());
    };
    auto logout = [](TokenFaults& t) { return p11Logout(t.fl(), t.session()); };
    auto destroy = [](TokenFaults& t) { return p11DestroyObject(t.fl(), t.session(), t.publicKey_); };

    const CallSite sites[] = {
        {"C_GetSlotList", 1, "C_GetSlotList 1", present},
        {"C_GetSlotList", 2, "C_GetSlotList 2", present},
        {"C_GetSlotInfo", 1, "C_GetSlotInfo", present},
        {"C_GetSessionInfo", 1, "C_GetSessionInfo", ensure},
        {"C_Login", 1, "C_Login", login},
        {"C_Logout", 1, "C_Logout", logout},
        {"C_FindObjectsInit", 1, "C_FindObjectsInit", findKey},
        {"C_FindObjects", 1, "C_FindObjects", findKey},
        {"C_FindObjectsFinal", 1, "C_FindObjectsFinal", findKey},
        {"C_FindObjectsInit", 1, "C_FindObjectsInit", listing},
        {"C_FindObjects", 1, "C_FindObjects", listing},
        {"C_FindObjectsFinal", 1, "C_FindObjectsFinal", listing},
        {"C_GetAttributeValue", 1, "C_GetAttributeValue 1", listing},
        {"C_GetAttributeValue", 2, "C_GetAttributeValue 2", listing},
        {"C_GetAttributeValue", 1, "C_GetAttributeValue 1", readValue},
        {"C_GetAttributeValue", 2, "C_GetAttributeValue 2", readValue},
        {"C_SignInit", 1, "C_SignInit", sign},
        {"C_Sign", 1, "C_Sign 1", sign},
        {"C_Sign", 2, "C_Sign 2", sign},
        {"C_DestroyObject", 1, "C_DestroyObject", destroy},
        // Last: these lose the login with the dropped session.
        {"C_OpenSession", 1, "C_OpenSession", ensureAfterDrop},
        {"C_GetSessionInfo", 2, "C_GetSessionInfo", ensureAfterDrop},
    };
    // A (vendor-defined) code with bits in every nibble, each nibble another digit and the
    // letters among them: the box must print all eight, upper-case and in order, and the
    // status is -80 - rv in 32-bit arithmetic: 0x100000000 - 0x50 - 0x9ABCDEF1.
    const CK_RV rv = 0x9ABCDEF1UL;
    for (const CallSite& site : sites) {
        SCOPED_TRACE(std::string(site.caption) + " via " + site.function);
        standin().reset();
        boxes_.clear();
        standin().fail(site.function, site.nth, rv);
        EXPECT_EQ(site.run(*this), 0x654320BF);
        ASSERT_EQ(boxes_.boxes().size(), 1u);
        EXPECT_EQ(boxes_.boxes()[0], (ShownBox{"some pkcs11 error 0x9ABCDEF1", site.caption}));
        const auto failed = standin().findCall(site.function, site.nth);
        ASSERT_TRUE(failed);
        EXPECT_FALSE(standin().forwarded(*failed));
        // Nothing is retried: the failing call is the last of its kind.
        EXPECT_EQ(standin().callsOf(site.function), site.nth);
        endOperations();
    }
}

TEST_F(TokenFaults, SessionInfoFailingWithAnotherCodeOpensNoSession) {
    standin().fail("C_GetSessionInfo", 1, CKR_DEVICE_REMOVED);
    CK_STATE s = 0;
    EXPECT_EQ(p11EnsureSession(fl(), state().slotList, 0, &state().session, &s), -80 - 0x32);
    EXPECT_EQ(standin().callsOf("C_OpenSession"), 0u);
}

TEST_F(TokenFaults, FailingLoginLeavesTheSessionAsItWas) {
    p11Logout(fl(), session());
    standin().fail("C_Login", 1, CKR_PIN_LOCKED);
    const Bytes pin = bytes(SoftHsmToken::kUserPin);
    EXPECT_EQ(p11Login(fl(), session(), CKU_USER, pin.data(), pin.size()), -5);
    CK_STATE s = 0;
    EXPECT_EQ(p11EnsureSession(fl(), state().slotList, 0, &state().session, &s), 0);
    EXPECT_EQ(s, static_cast<CK_STATE>(CKS_RW_PUBLIC_SESSION));
    EXPECT_TRUE(boxes_.boxes().empty());
}

} // namespace
