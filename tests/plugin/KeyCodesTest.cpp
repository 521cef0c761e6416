// Windows virtual keys to framework key codes, including the runs that are not contiguous
// on the framework side and the keys without a code.

#include "PluginEvents/KeyCodes.h"

#include <gtest/gtest.h>

namespace {

TEST(TranslateVirtualKey, FixedTable) {
    struct Case {
        unsigned virtualKey;
        int code;
    };
    const Case cases[] = {
        {0x6B, 0},  {0x12, 1},  {0x03, 2},  {0x0C, 4},  {0x1B, 9},  {0x70, 11}, {0x79, 12},
        {0x82, 21}, {0x71, 22}, {0x83, 23}, {0x85, 25}, {0x72, 26}, {0x78, 32}, {0x01, 35},
        {0x60, 39}, {0x65, 44}, {0x68, 47}, {0x69, 48}, {0x22, 49}, {0x21, 50}, {0x0D, 52},
        {0x6C, 55}, {0x2C, 57}, {0x20, 58}, {0x09, 60}, {0x26, 61}, {0x28, 62}, {0x25, 63},
        {0x27, 64}, {0x5B, 65}, {0x5D, 66}, {0x5C, 67}, {0x08, 68}, {0x23, 69}, {0x24, 70},
        {0x13, 71}, {0x2A, 72},
        // Without a code of their own: letters, digits, F23, F24, nothing at all.
        {0x41, 84}, {0x5A, 84}, {0x30, 84}, {0x86, 84}, {0x87, 84}, {0x00, 84}, {0xFFFF, 84},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FB::translateVirtualKey(c.virtualKey), c.code) << "virtual key 0x" << std::hex << c.virtualKey;
}

} // namespace
