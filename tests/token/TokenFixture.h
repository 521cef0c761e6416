#pragma once
// A plug-in object's token state with the vendor module loaded for it: the olpkcs11xsg
// stand-in found beside the test executable, forwarding to a fresh SoftHSM token. The
// module is unloaded (and so finalised) before the token goes away.

#include "RecordingErrorBox.h"
#include "SoftHsmToken.h"
#include "Standin.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

namespace orv { namespace test {

using Bytes = std::vector<unsigned char>;

inline void PrintTo(const ShownBox& box, std::ostream* out) {
    *out << "{\"" << box.text << "\", \"" << box.caption << "\"}";
}

inline Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

// "some pkcs11 error 0x%08X" as the box shows it.
inline std::string pkcs11ErrorText(unsigned long rv) {
    char text[64];
    std::snprintf(text, sizeof text, "some pkcs11 error 0x%08X", static_cast<unsigned>(rv));
    return text;
}

class TokenFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(moduleLoadCount, 0) << "an earlier test left the module loaded";
        state_ = std::make_unique<TokenState>();
        ASSERT_EQ(p11LoadModule(&state_->pkcs11Module, &state_->funcList, &state_->containers), 0);
        state_->slotIndex = 0;
        standin().reset();
    }

    void TearDown() override {
        if (state_)
            p11UnloadModule(state_->pkcs11Module, state_->funcList);
        EXPECT_EQ(moduleLoadCount, 0);
    }

public:  // the helpers are used from tables of lambdas too
    Standin& standin() { return token_.standin(); }
    TokenState& state() { return *state_; }
    CK_FUNCTION_LIST_PTR fl() { return state_->funcList; }
    CK_SESSION_HANDLE session() { return state_->session; }

    // Presence check and session, as every scripting method starts.
    CK_STATE openSession() {
        EXPECT_EQ(p11CheckTokenPresent(fl(), state_->slotList, &state_->slotIndex), 0);
        CK_STATE sessionState = 0;
        EXPECT_EQ(p11EnsureSession(fl(), state_->slotList, state_->slotIndex, &state_->session,
                                   &sessionState),
                  0);
        return sessionState;
    }

    void login() {
        const Bytes pin = bytes(SoftHsmToken::kUserPin);
        ASSERT_EQ(p11Login(fl(), session(), CKU_USER, pin.data(), pin.size()), 0);
    }

    // A container made through the layer; returns its public key.
    CK_OBJECT_HANDLE generate(const Bytes& name) {
        CK_OBJECT_HANDLE publicKey = 0;
        EXPECT_EQ(p11GenerateKeyPair(fl(), session(), name.data(), name.size(), &publicKey), 0);
        EXPECT_NE(publicKey, 0u);
        return publicKey;
    }

    CK_OBJECT_HANDLE find(const Bytes& name, unsigned char privateFlag,
                          unsigned char trustedFlag = 0) {
        CK_OBJECT_HANDLE object = 0xDEAD;
        EXPECT_EQ(p11FindKey(fl(), session(), name.data(), name.size(), privateFlag, trustedFlag,
                             &object),
                  0);
        return object;
    }

    SoftHsmToken token_;
    RecordingErrorBox boxes_;
    std::unique_ptr<TokenState> state_;
};

}} // namespace orv::test
