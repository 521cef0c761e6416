// companion-ok: installed by full path, found by the plug-in's companion load (which takes
// a module of that name already in the process), answering what the test configured.

#include "CompanionDouble.h"
#include "PlatformModule.h"
#include "pin/Companion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

using orv::test::CompanionDouble;
using orv::test::CompanionKind;

using ShowPinCodeWindowFn = std::int32_t (*)(char*, std::int32_t*);

// What the plug-in does: load the "olvgui" companion, look up the export.
ShowPinCodeWindowFn companionExport()
{
    orv::ModuleHandle module = orv::loadCompanion("olvgui");
    if (!module)
        return nullptr;
    return reinterpret_cast<ShowPinCodeWindowFn>(orv::moduleSymbol(module, "ShowPinCodeWindow"));
}

struct Answer {
    const char* name;
    std::string pin;
    std::int32_t reportedLength;
    std::int32_t result;
    std::string written; // expected bytes at the start of pinText
    std::int32_t expectedLength;
};

TEST(CompanionDouble, IsFoundOnlyOnceInstalledAndAnswersAsConfigured)
{
    // Nothing named olvgui lies beside the test executables: without the double, no companion.
    ASSERT_EQ(orv::loadCompanion("olvgui"), nullptr);

    CompanionDouble companion = CompanionDouble::install(CompanionKind::Configurable);
    ShowPinCodeWindowFn show = companionExport();
    ASSERT_NE(show, nullptr);

    // Unconfigured (and without the environment variables): the fixture token's user PIN.
    char pinText[32];
    std::int32_t pinLength = -1;
    EXPECT_EQ(show(pinText, &pinLength), 1);
    EXPECT_EQ(pinLength, 6);
    EXPECT_EQ(std::string(pinText, 6), "123456");
    EXPECT_EQ(companion.calls(), 1);

    const Answer answers[] = {
        {"entered", "secret-pin", 10, 1, "secret-pin", 10},
        {"all 32 bytes", std::string(32, 'x'), 32, 1, std::string(32, 'x'), 32},
        {"longer text is cut to 32 bytes", std::string(40, 'y'), 40, 1, std::string(32, 'y'), 40},
        {"misreported length", "123456", 33, 1, "123456", 33},
        {"empty", "", 0, 1, "", 0},
        {"cancelled writes nothing", "abcdef", 6, 0, "", -7},
        {"non-zero other than 1", "abcdef", 6, 2, "abcdef", 6},
    };
    for (const Answer& a : answers) {
        SCOPED_TRACE(a.name);
        companion.reset();
        companion.answerRaw(a.pin, a.reportedLength, a.result);
        char text[33];
        std::memset(text, '#', sizeof text);
        std::int32_t length = -7;
        EXPECT_EQ(show(text, &length), a.result);
        EXPECT_EQ(length, a.expectedLength);
        EXPECT_EQ(std::string(text, a.written.size()), a.written);
        if (a.result == 0) {
            EXPECT_EQ(text[0], '#');
        }
        EXPECT_EQ(text[32], '#') << "wrote past the 32-byte buffer";
        EXPECT_EQ(companion.calls(), 1);
    }

    companion.reset();
    companion.cancel();
    EXPECT_EQ(show(pinText, &pinLength), 0);
    EXPECT_EQ(companion.calls(), 1);
}

TEST(CompanionDouble, InstallingTheOtherDoubleInTheSameProcessIsRefused)
{
    CompanionDouble::install(CompanionKind::Configurable);
    EXPECT_NO_THROW(CompanionDouble::install(CompanionKind::Configurable));
    EXPECT_THROW(CompanionDouble::install(CompanionKind::WithoutExport), std::runtime_error);
}

} // namespace
