// An olvgui companion without "ShowPinCodeWindow": every PIN request is a cancel, and the
// built-in entry is not offered in its place.

#include "CompanionDouble.h"
#include "PinTestSupport.h"

namespace {

using namespace orv;
using namespace orv::test;

TEST(CompanionWithoutExport, EveryRequestIsACancel) {
    CompanionDouble::install(CompanionKind::WithoutExport);
    BuiltInEntryWatch watch;
    LoginOnlyModule module;
    for (int i = 0; i < 2; ++i) {
        unsigned char buffer[36];
        std::memset(buffer, 0xEE, sizeof buffer);
        std::int32_t length = -1;
        EXPECT_EQ(askPin(buffer, &length), 0);
        EXPECT_EQ(length, -1);
        EXPECT_EQ(buffer[0], 0xEE);
        EXPECT_EQ(p11LoginWithDialog(module.list(), 7, CKU_USER), -7);
    }
    EXPECT_EQ(LoginOnlyModule::calls(), 0);
    EXPECT_EQ(pinDialogDepth, 0);
    EXPECT_FALSE(watch.shown());
}

} // namespace
