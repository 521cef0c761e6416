// Page values that no method argument can be made of, invoked by name as a page does: a
// number no 32-bit integer holds, and wide text without a UTF-8 form. Each ends the call
// as a script error with a readable message, never as another exception (which would end
// the browser when thrown through its callback). No token is needed: a function list that
// answers only C_GetSessionInfo gets each method to its first conversion, and the
// conversion fails before any other module call.

#include "ApiCalls.h"
#include "token/Pkcs11Session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <string>
#include <typeinfo>

namespace {

using namespace orv;
using namespace orv::test;
using FB::variant;
using FB::VariantList;

int g_sessionInfoCalls = 0;

CK_RV sessionInfo(CK_SESSION_HANDLE, CK_SESSION_INFO_PTR info) {
    ++g_sessionInfoCalls;
    std::memset(info, 0, sizeof *info);
    info->state = CKS_RW_PUBLIC_SESSION;  // open, nobody logged in
    return CKR_OK;
}

class ApiArguments : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(moduleLoadCount, 0);
        moduleLoadCount = 1;  // only the function list below is ever called
        std::memset(&functions_, 0, sizeof functions_);
        functions_.C_GetSessionInfo = &sessionInfo;
        g_sessionInfoCalls = 0;
        owner_ = std::make_shared<TokenOwner>();
        owner_->tokenState().funcList = &functions_;
        owner_->tokenState().slotList[0] = 1;
        api_ = std::make_shared<orvantaAPI>(owner_, nullptr);
    }
    void TearDown() override { moduleLoadCount = 0; }

    // The message of the FB::invalid_arguments the call ends with, or what else happened.
    std::string invalidArgumentsOf(const std::string& method, const VariantList& args) {
        try {
            const variant result = api_->Invoke(method, args);
            return "<answered " + describe(result) + ">";
        } catch (const FB::invalid_arguments& e) {
            return e.what();
        } catch (const std::exception& e) {
            return std::string("<escaped as ") + typeid(e).name() + ": " + e.what() + ">";
        }
    }

    CK_FUNCTION_LIST functions_;
    TokenOwnerPtr owner_;
    std::shared_ptr<orvantaAPI> api_;
};

TEST_F(ApiArguments, ContainerIndexThatNoIntegerHoldsIsAScriptError) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::string positive = "Could not convert a number: bad numeric conversion: positive overflow";
    const std::string negative = "Could not convert a number: bad numeric conversion: negative overflow";
    const struct {
        const char* label;
        variant index;
        std::string message;
    } cases[] = {
        {"2147483648", variant(2147483648.0), positive},
        {"Infinity", variant(inf), positive},
        {"-Infinity", variant(-inf), negative},
        {"-2147483649", variant(-2147483649.0), negative},
        {"4294967296 as a 64-bit integer", variant(4294967296LL), positive},
        {"NaN", variant(std::numeric_limits<double>::quiet_NaN()),
         std::string("Could not convert from ") + typeid(double).name() + " to " + typeid(long).name()},
    };
    for (const auto& c : cases)
        EXPECT_EQ(invalidArgumentsOf("olvGetContainerName", {c.index}), c.message) << c.label;
    // The largest index that fits is an ordinary index outside the table.
    EXPECT_TRUE(isStatus(api_->Invoke("olvGetContainerName", {variant(2147483647.0)}), -10));
}

#ifndef _WIN32
// Wide text is UTF-32 here; Windows turns a lone surrogate into U+FFFD instead.
TEST_F(ApiArguments, WideTextWithALoneSurrogateIsAScriptError) {
    const std::wstring lone = L"key" + std::wstring(1, wchar_t(0xDC00));
    const std::string message = "Could not convert text: wstring_to_utf8: lone surrogate U+DC00 at position 3";
    const variant hash(std::string(64, '1'));
    const variant key(std::string(64, 'M'));
    const struct {
        const char* method;
        VariantList args;
    } cases[] = {
        {"olvSign", {variant(lone), hash}},
        {"olvSign", {variant("name"), variant(lone)}},
        {"olvGenKeyPair", {variant(lone)}},
        {"olvDestroyContainer", {variant(lone)}},
        {"olvGetPublicKey", {variant(lone)}},
        {"olvRepair", {variant(lone), hash}},
        {"olvRepair", {key, variant(lone)}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(invalidArgumentsOf(c.method, c.args), message) << c.method;
    EXPECT_EQ(g_sessionInfoCalls, 5);  // each token method got as far as its session
}
#endif

} // namespace
