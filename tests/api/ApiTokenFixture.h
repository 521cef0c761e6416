#pragma once
// orvantaAPI over a fresh SoftHSM token: the olpkcs11xsg stand-in beside the test
// executable forwards to SoftHSM and records every call, and the olvgui companion double
// answers each PIN prompt with the token's user PIN and counts the prompts. The fixture
// owns the token state as the plug-in object will; the scripting object holds it weakly.

#include "ApiCalls.h"
#include "CompanionDouble.h"
#include "RecordingErrorBox.h"
#include "SoftHsmToken.h"
#include "Standin.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace orv { namespace test {

inline void PrintTo(const ShownBox& box, std::ostream* out) {
    *out << "{\"" << box.text << "\", \"" << box.caption << "\"}";
}

// "some pkcs11 error 0x%08X" as the box shows it.
inline std::string pkcs11ErrorText(unsigned long rv) {
    char text[64];
    std::snprintf(text, sizeof text, "some pkcs11 error 0x%08X", static_cast<unsigned>(rv));
    return text;
}

inline long callFailure(unsigned long rv) { return -80 - static_cast<long>(rv); }

class ApiToken : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        companion_ = std::make_unique<CompanionDouble>(CompanionDouble::install(CompanionKind::Configurable));
    }
    static void TearDownTestSuite() { companion_.reset(); }

    void SetUp() override {
        ASSERT_EQ(moduleLoadCount, 0) << "an earlier test left the module loaded";
        companion_->reset();
        companion_->answer(SoftHsmToken::kUserPin);
        owner_ = std::make_shared<TokenOwner>();
        TokenState& t = owner_->tokenState();
        ASSERT_EQ(p11LoadModule(&t.pkcs11Module, &t.funcList, &t.containers), 0);
        t.slotIndex = 0;
        loaded_ = true;
        api_ = std::make_shared<orvantaAPI>(owner_, nullptr);
        standin().reset();
    }

    void TearDown() override {
        if (loaded_)
            p11UnloadModule(state().pkcs11Module, state().funcList);
        EXPECT_EQ(moduleLoadCount, 0);
    }

    FB::variant call(const std::string& method, const FB::VariantList& args = {}) {
        return api_->Invoke(method, args);
    }

    // What a page does first: the presence check fills the slot list.
    void present() {
        ASSERT_TRUE(isTrue(call("olvIsTokenPresentAndOK")));
        standin().reset();
    }

    // A container made through the page; returns its public key text.
    std::string generate(const FB::variant& name) {
        const FB::variant key = call("olvGenKeyPair", {name});
        EXPECT_TRUE(isKeyText(key));
        return key.is_of_type<std::string>() ? key.cast<std::string>() : std::string();
    }

    bool loggedIn() {
        const FB::variant answer = call("olvIsUserLoggedIn");
        EXPECT_TRUE(isTrue(answer) || isStatus(answer, -2)) << describe(answer);
        return isTrue(answer);
    }

    int prompts() const { return companion_->calls(); }
    Standin& standin() { return token_.standin(); }
    TokenState& state() { return owner_->tokenState(); }
    std::size_t callsOf(const std::string& function) { return standin().callsOf(function); }

    // Straight through the layer, for what a page cannot do.
    void layerLogin() {
        const std::string pin = SoftHsmToken::kUserPin;
        ASSERT_EQ(p11Login(state().funcList, state().session, CKU_USER,
                           reinterpret_cast<const unsigned char*>(pin.data()),
                           static_cast<std::uint32_t>(pin.size())),
                  0);
    }
    CK_OBJECT_HANDLE layerFind(const std::string& name, unsigned char privateFlag, unsigned char trusted = 0) {
        CK_OBJECT_HANDLE object = 0xDEAD;
        EXPECT_EQ(p11FindKey(state().funcList, state().session,
                             reinterpret_cast<const unsigned char*>(name.data()),
                             static_cast<std::uint32_t>(name.size()), privateFlag, trusted, &object),
                  0);
        return object;
    }

    SoftHsmToken token_;
    RecordingErrorBox boxes_;
    TokenOwnerPtr owner_;
    std::shared_ptr<orvantaAPI> api_;
    bool loaded_ = false;

    static std::unique_ptr<CompanionDouble> companion_;
};

}} // namespace orv::test
