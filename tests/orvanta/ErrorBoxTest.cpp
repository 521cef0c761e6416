#include "ErrorBox.h"
#include "ModuleNames.h"
#include "RecordingErrorBox.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using orv::test::RecordingErrorBox;
using orv::test::ShownBox;

struct BoxCase {
    const char* text;
    const char* caption;
    std::uint32_t code;
    const char* expected;
};

TEST(ShowErrorBox, FormatsCodeAsEightUpperCaseHexDigits) {
    const BoxCase cases[] = {
        {"some pkcs11 error", "C_Login", 0x5, "some pkcs11 error 0x00000005"},
        {"some pkcs11 error", "C_Sign", 0x80000001u, "some pkcs11 error 0x80000001"},
        {"some crypt error", "olcSignHash", 0xFFFFFFFFu, "some crypt error 0xFFFFFFFF"},
        {"x", "c", 0xABCDEFu, "x 0x00ABCDEF"},
        {"", "Error", 0, " 0x00000000"},
    };
    for (const auto& c : cases) {
        RecordingErrorBox box;
        orv::showErrorBox(c.text, c.caption, c.code);
        ASSERT_EQ(box.boxes().size(), 1u) << c.expected;
        EXPECT_EQ(box.boxes()[0], (ShownBox{c.expected, c.caption}));
    }
}

TEST(ShowErrorBox, LongTextIsNotCut) {
    RecordingErrorBox box;
    const std::string text(5000, 'a');
    orv::showErrorBox(text.c_str(), "Error", 0x12345678);
    ASSERT_EQ(box.boxes().size(), 1u);
    EXPECT_EQ(box.boxes()[0].text, text + " 0x12345678");
}

TEST(ModuleNames, MapsBaseNameToThisPlatformsFile) {
#ifdef _WIN32
    EXPECT_EQ(orv::moduleFileName("olpkcs11xsg"), "olpkcs11xsg.dll");
#else
    EXPECT_EQ(orv::moduleFileName("olpkcs11xsg"), "olpkcs11xsg.so");
#endif
}

} // namespace
