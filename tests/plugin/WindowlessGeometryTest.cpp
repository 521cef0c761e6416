// What every windowless window keeps for the adapter: position, clipping, the invalidate
// callback, and browser-window points turned into plug-in points.

#include "PluginEvents/MouseEvents.h"
#include "PluginWindowless.h"

#include <gtest/gtest.h>

#include <array>
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

} // namespace
