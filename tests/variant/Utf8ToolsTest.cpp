// Wide/narrow conversions and lower-casing, on each platform's own implementation.

#include "utf8_tools.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <type_traits>

namespace {

struct TextCase {
    const char* label;
    std::wstring wide;
    std::string utf8;
};

TEST(Utf8Tools, RoundTrips) {
    const TextCase cases[] = {
        {"empty", L"", ""},
        {"ASCII", L"olvSign", "olvSign"},
        {"Cyrillic", L"\u0412\u0432\u0435\u0434\u0438\u0442\u0435 \u041F\u0418\u041D",
         "\xD0\x92\xD0\xB2\xD0\xB5\xD0\xB4\xD0\xB8\xD1\x82\xD0\xB5 \xD0\x9F\xD0\x98\xD0\x9D"},
        {"three-byte sign", L"\u20AC", "\xE2\x82\xAC"},
        {"two-byte boundary", L"\u007F\u0080\u07FF\u0800", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FB::wstring_to_utf8(c.wide), c.utf8) << c.label;
        EXPECT_EQ(FB::utf8_to_wstring(c.utf8), c.wide) << c.label;
    }
}

TEST(Utf8Tools, CharacterOutsideTheBasicPlaneRoundTrips) {
    const std::string utf8 = "\xF0\x9F\x94\x91";  // U+1F511
    EXPECT_EQ(FB::wstring_to_utf8(FB::utf8_to_wstring(utf8)), utf8);
}

TEST(Utf8Tools, LowerCasesCyrillicAndLatin) {
    EXPECT_EQ(FB::wstring_tolower(L"\u041F\u0418\u041D-Code"), L"\u043F\u0438\u043D-code");
    EXPECT_EQ(FB::wstring_tolower(L"\u0401\u0416"), L"\u0451\u0436");
    EXPECT_EQ(FB::wstring_tolower(L""), L"");
}

#ifndef _WIN32
// UTF-32 wide text: malformed input is refused, never turned into other text.
TEST(Utf8Tools, MalformedInputRaisesRuntimeError) {
    const std::string badUtf8[] = {
        "\x80",              // stray continuation byte
        "\xC3",              // truncated sequence
        "a\xE2\x82",         // truncated at the end
        "\xC0\xAF",          // overlong slash
        "\xED\xA0\x80",      // surrogate
        "\xF4\x90\x80\x80",  // past U+10FFFF
        "\xFF",
    };
    for (const auto& text : badUtf8) {
        try {
            (void)FB::utf8_to_wstring(text);
            ADD_FAILURE() << "accepted malformed UTF-8 of " << text.size() << " bytes";
        } catch (const FB::text_conversion_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("utf8_to_wstring: ", 0), 0u) << e.what();
        }
    }
}

// A UTF-16 browser string can carry a lone surrogate; a wide string built by other code
// any 32-bit value. The message names the code unit as it was sent.
TEST(Utf8Tools, BadWideTextNamesTheCodeUnitAndItsPosition) {
    const struct {
        std::wstring text;
        const char* message;
    } cases[] = {
        {L"ab" + std::wstring(1, wchar_t(0xDC00)), "wstring_to_utf8: lone surrogate U+DC00 at position 2"},
        {std::wstring(1, wchar_t(0xD800)) + L"x", "wstring_to_utf8: lone surrogate U+D800 at position 0"},
        {L"\u0416" + std::wstring(1, wchar_t(0x110000)), "wstring_to_utf8: invalid code point U+110000 at position 1"},
        {std::wstring(1, static_cast<wchar_t>(-65)), "wstring_to_utf8: invalid code point U+FFFFFFBF at position 0"},
    };
    for (const auto& c : cases) {
        try {
            (void)FB::wstring_to_utf8(c.text);
            ADD_FAILURE() << "converted " << c.message;
        } catch (const FB::text_conversion_error& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}
#endif

// Callers that know only the standard runtime error still catch it.
static_assert(std::is_base_of<std::runtime_error, FB::text_conversion_error>::value,
              "text_conversion_error is a runtime error");

} // namespace
