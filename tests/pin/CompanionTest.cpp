// With the olvgui companion installed, the companion asks for the PIN and the built-in entry
// is never offered.

#include "CompanionDouble.h"
#include "PinTestSupport.h"

#include <memory>

namespace {

using namespace orv;
using namespace orv::test;

class Companion : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        double_ = std::make_unique<CompanionDouble>(CompanionDouble::install(CompanionKind::Configurable));
    }
    void SetUp() override { double_->reset(); }

    struct Entered {
        int result;
        std::string pin;
        unsigned char after;  // the byte behind the PIN in the caller's buffer
    };
    static Entered ask() {
        unsigned char buffer[36];
        std::memset(buffer, 0xEE, sizeof buffer);
        std::int32_t length = -1;
        const int result = askPin(buffer, &length);
        if (!result)
            return {result, std::string(), buffer[0]};
        return {result, std::string(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(length)),
                buffer[length]};
    }

    static std::unique_ptr<CompanionDouble> double_;
};
std::unique_ptr<CompanionDouble> Companion::double_;

TEST_F(Companion, EnteredPinIsCopiedOutOnEveryRequest) {
    BuiltInEntryWatch watch;
    double_->answer("secret12");
    Entered entered = ask();
    EXPECT_EQ(entered.result, 1);
    EXPECT_EQ(entered.pin, "secret12");
    EXPECT_EQ(entered.after, 0xEE);  // no terminator
    EXPECT_TRUE(pinBufferWiped());

    double_->answer("other-pin");
    entered = ask();
    EXPECT_EQ(entered.pin, "other-pin");
    EXPECT_EQ(double_->calls(), 2);
    EXPECT_FALSE(watch.shown());
}

TEST_F(Companion, AllThirtyTwoBytesAreKept) {
    const std::string pin = "0123456789abcdef0123456789ABCDEF";
    double_->answer(pin);
    const Entered entered = ask();
    EXPECT_EQ(entered.result, 1);
    EXPECT_EQ(entered.pin, pin);
    EXPECT_EQ(entered.after, 0xEE);
}

TEST_F(Companion, CancelGivesNothingAndNoBuiltInEntry) {
    BuiltInEntryWatch watch;
    double_->cancel();
    const Entered entered = ask();
    EXPECT_EQ(entered.result, 0);
    EXPECT_EQ(entered.after, 0xEE);
    EXPECT_EQ(double_->calls(), 1);
    EXPECT_FALSE(watch.shown());
}

TEST_F(Companion, LengthOutsideTheContractIsNotCopied) {
    for (std::int32_t length : {33, -1, 1 << 20}) {
        double_->answerRaw("123456", length, 1);
        const Entered entered = ask();
        EXPECT_EQ(entered.result, 0) << length;
        EXPECT_EQ(entered.after, 0xEE) << length;
        EXPECT_TRUE(pinBufferWiped());
    }
}

TEST_F(Companion, PinGoesToTheLoginAndCancelSkipsIt) {
    LoginOnlyModule module;
    double_->answer("123456");
    EXPECT_EQ(p11LoginWithDialog(module.list(), 7, CKU_USER), 0);
    EXPECT_EQ(LoginOnlyModule::calls(), 1);
    EXPECT_EQ(LoginOnlyModule::lastPin(), "123456");

    double_->cancel();
    EXPECT_EQ(p11LoginWithDialog(module.list(), 7, CKU_USER), -7);
    EXPECT_EQ(LoginOnlyModule::calls(), 1);

    // A companion PIN too short for the token never reaches it.
    double_->answer("12345");
    EXPECT_EQ(p11LoginWithDialog(module.list(), 7, CKU_USER), -6);
    EXPECT_EQ(LoginOnlyModule::calls(), 1);
    EXPECT_EQ(pinDialogDepth, 0);
}

TEST_F(Companion, NoSecondRequestWhileOneIsOpen) {
    LoginOnlyModule module;
    double_->answer("123456");
    pinDialogDepth = 1;  // a request is on screen
    EXPECT_EQ(p11LoginWithDialog(module.list(), 7, CKU_USER), -12);
    pinDialogDepth = 0;
    EXPECT_EQ(double_->calls(), 0);
    EXPECT_EQ(LoginOnlyModule::calls(), 0);
}

} // namespace
