// What every windowless window keeps for the adapter: position, clipping, the invalidate
// callback, and browser-window points turned into plug-in points.

#include "PluginEvents/MouseEvents.h"
#include "PluginWindowless.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <memory>
#include <vector>

namespace {

using Edges = std::array<std::uint32_t, 4>;

TEST(PluginWindowless, PositionGivesTheRectangleAndTheInvalidateCallbackItsEdges) {
    FB::PluginWindowless window;
    window.setWindowPosition(10, 20, 300, 100);
    EXPECT_EQ(window.getWindowPosition(), (FB::Rect{20, 10, 120, 310}));
    EXPECT_EQ(window.getWindowWidth(), 300);
    EXPECT_EQ(window.getWindowHeight(), 100);

    window.invalidateWindow();  // no callback yet: nothing to call
    std::vector<Edges> calls;
    window.setInvalidateWindowFunc([&](std::uint32_t l, std::uint32_t t, std::uint32_t r, std::uint32_t b) {
        calls.push_back({l, t, r, b});
    });
    window.invalidateWindow();
    EXPECT_EQ(calls, (std::vector<Edges>{{10, 20, 310, 120}}));
}

TEST(PluginWindowless, PositionFromEdgesAndClipping) {
    FB::PluginWindowless window;
    window.setWindowPosition(FB::Rect{5, 7, 45, 107});  // top, left, bottom, right
    EXPECT_EQ(window.getWindowPosition(), (FB::Rect{5, 7, 45, 107}));
    EXPECT_EQ(window.getWindowWidth(), 100);
    EXPECT_EQ(window.getWindowHeight(), 40);
    window.setWindowClipping(6, 8, 30, 90);
    EXPECT_EQ(window.getWindowClipping(), (FB::Rect{6, 8, 30, 90}));
}

TEST(PluginWindowless, BrowserWindowPointsBecomePluginPoints) {
    FB::PluginWindowless window;
    window.setWindowPosition(100, 50, 200, 80);
    std::int32_t x = 110, y = 60;
    window.translateWindowToPlugin(x, y);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 10);
    x = 90;
    y = 40;  // above and left of the plug-in
    window.translateWindowToPlugin(x, y);
    EXPECT_EQ(x, -10);
    EXPECT_EQ(y, -10);
}

// Whatever position and size the browser gives, the rectangle, a size from edges and a
// browser point in plug-in coordinates stop at the ends of the 32-bit range instead of
// wrapping (and UBSan sees no overflow).
TEST(PluginWindowless, GeometryAtTheEndsOfTheRangeSaturates) {
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const struct {
        std::int32_t x, y, width, height;
        std::int32_t pointX, pointY;
        FB::Rect position;
        std::int32_t pluginX, pluginY;
    } cases[] = {
        {kMin, kMin, 100, 50, 5, -5, FB::Rect{kMin, kMin, kMin + 50, kMin + 100}, kMax, kMax - 4},
        {kMax - 10, kMax - 10, kMax, kMax, kMin, 0, FB::Rect{kMax - 10, kMax - 10, kMax, kMax}, kMin, -(kMax - 10)},
        {-20, 30, 100, 100, kMax, kMin, FB::Rect{30, -20, 130, 80}, kMax, kMin},
        {0, 0, 200, 100, 10, 20, FB::Rect{0, 0, 100, 200}, 10, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        FB::PluginWindowless window;
        window.setWindowPosition(c.x, c.y, c.width, c.height);
        EXPECT_EQ(window.getWindowPosition(), c.position);
        std::int32_t x = c.pointX, y = c.pointY;
        window.translateWindowToPlugin(x, y);
        EXPECT_EQ(x, c.pluginX);
        EXPECT_EQ(y, c.pluginY);
    }

    FB::PluginWindowless window;
    window.setWindowPosition(FB::Rect{kMin, kMin, kMax, kMax});
    EXPECT_EQ(window.getWindowWidth(), kMax);
    EXPECT_EQ(window.getWindowHeight(), kMax);
}

} // namespace
