// The conversions between the page's texts and the token's bytes.

#include "api/HexCodec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using orv::bytesToHex;
using orv::hexToBytes;
using orv::isHexByteText;
using orv::lettersToHex;
using orv::reverseBytes;
using Bytes = std::vector<unsigned char>;

struct HexCase {
    const char* text;
    Bytes bytes;
};

const HexCase kHexCases[] = {
    {"", {}},
    {"00", {0x00}},
    {"0a1B", {0x0A, 0x1B}},
    {"fF", {0xFF}},
    {"A", {0x0A}},                 // a digit at the end is a byte of its own
    {"123", {0x12, 0x03}},
    {"1 23", {0x01, 0x23}},        // a digit before a blank too
    {"A B", {0x0A, 0x0B}},
    {"  12  34 ", {0x12, 0x34}},   // blanks are skipped wherever they are
    {"      ", {}},
    // Characters that are neither digits nor blanks stand for the digit 0 in their place.
    {"G1", {0x01}},
    {"1G", {0x10}},
    {"-1", {0x01}},
    {"0x1F", {0x00, 0x1F}},
    {"zz12", {0x00, 0x12}},
    {"\t5", {0x05}},
};

TEST(HexCodec, HexTextToBytes) {
    for (const HexCase& c : kHexCases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        EXPECT_EQ(hexToBytes(c.text, nullptr, 0), c.bytes.size());  // counting only
        Bytes out(c.bytes.size() + 4, 0xEE);
        EXPECT_EQ(hexToBytes(c.text, out.data(), out.size()), c.bytes.size());
        EXPECT_EQ(Bytes(out.begin(), out.begin() + c.bytes.size()), c.bytes);
        EXPECT_EQ(out[c.bytes.size()], 0xEE);  // nothing behind the bytes is touched
    }
}

TEST(HexCodec, HexToBytesNeverWritesPastItsCapacity) {
    unsigned char out[5];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(hexToBytes("0102030405", out, 3), 5u);  // counts every byte the text makes
    EXPECT_EQ(Bytes(out, out + 5), (Bytes{0x01, 0x02, 0x03, 0xEE, 0xEE}));
    EXPECT_EQ(hexToBytes(nullptr, out, 5), 0u);
}

TEST(HexCodec, SixtyFourCharactersNeverMakeMoreThanThirtyTwoBytes) {
    // Every byte takes two characters except a lone digit at the very end.
    std::string lone;  // 32 digits each followed by a blank
    for (int i = 0; i < 32; ++i)
        lone += std::string(1, static_cast<char>('0' + i % 10)) + " ";
    const std::string texts[] = {std::string(64, 'F'), std::string(32, 'A') + std::string(32, ' '), lone,
                                 std::string(63, '7') + "8"};
    for (const std::string& text : texts) {
        ASSERT_EQ(text.size(), 64u);
        EXPECT_LE(hexToBytes(text.c_str(), nullptr, 0), 32u) << text;
    }
    EXPECT_EQ(hexToBytes(texts[2].c_str(), nullptr, 0), 32u);
    EXPECT_EQ(hexToBytes(texts[1].c_str(), nullptr, 0), 16u);
    EXPECT_EQ(hexToBytes(texts[3].c_str(), nullptr, 0), 32u);
}

TEST(HexCodec, HexByteTextIsOnlyDigitsAndBlanksMakingTheCount) {
    const struct {
        const char* text;
        std::size_t bytes;
        bool ok;
    } cases[] = {
        {"0a1B", 2, true},  {"0a 1B", 2, true}, {"A B", 2, true}, {"0a1B", 3, false},
        {"0a1G", 2, false}, {"-1 02", 2, false}, {"\t102", 2, false}, {"", 0, true},
        {"0x1F", 2, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isHexByteText(c.text, c.bytes), c.ok) << c.text << " / " << c.bytes;
    EXPECT_FALSE(isHexByteText(nullptr, 0));
}

TEST(HexCodec, BytesToUpperCaseHexWithATerminator) {
    const unsigned char bytes[] = {0x00, 0x0F, 0xA0, 0xFF, 0x5c};
    char text[16];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(bytesToHex(bytes, 5, text), 11u);
    EXPECT_STREQ(text, "000FA0FF5C");
    EXPECT_EQ(text[11], '#');

    EXPECT_EQ(bytesToHex(bytes, 0, text), 1u);
    EXPECT_STREQ(text, "");
}

TEST(HexCodec, ReverseInPlace) {
    const struct {
        Bytes in, out;
    } cases[] = {
        {{}, {}}, {{1}, {1}}, {{1, 2}, {2, 1}}, {{1, 2, 3}, {3, 2, 1}}, {{1, 2, 3, 4}, {4, 3, 2, 1}}};
    for (const auto& c : cases) {
        Bytes b = c.in;
        b.push_back(0xEE);  // beyond n: stays
        reverseBytes(b.data(), c.in.size());
        Bytes expected = c.out;
        expected.push_back(0xEE);
        EXPECT_EQ(b, expected);
    }
}

TEST(HexCodec, KeyLettersBecomeHexDigits) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"KMBNPFRCUEHDJALX", "0123456789ABCDEF"},
        {"0123456789", "0123456789"},  // digits pass through
        // Hex letters are letters of the alphabet too, so plain hex is not read as such.
        {"ABCDEF", "D27B95"},
        {"abcdef kmb", "abcdef kmb"},  // lower case is not the alphabet
        {"ZKQ", "Z0Q"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        lettersToHex(&text[0]);
        EXPECT_EQ(text, c.out) << c.in;
    }
}

} // namespace
