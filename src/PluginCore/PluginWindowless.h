#pragma once
// FB::PluginWindowless: what every windowless plug-in window shares, whatever the
// platform. The browser owns the surface and tells the adapter where the plug-in sits;
// the adapter passes the geometry on here and delivers the browser's input events to the
// platform class (PluginWindowlessWin, PluginWindowlessX11), which turns them into event
// records in plug-in coordinates.

#include "PluginWindow.h"

#include <cstdint>
#include <functional>
#include <mutex>

namespace FB {

class PluginWindowless : public PluginWindow {
public:
    // Asks the browser to repaint (left, top, right, bottom) of its window.
    using InvalidateWindowFunc =
        std::function<void(std::uint32_t left, std::uint32_t top, std::uint32_t right, std::uint32_t bottom)>;

    PluginWindowless();
    ~PluginWindowless() override;

    void setWindowPosition(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height);
    // From the edges of the plug-in's rectangle.
    void setWindowPosition(const Rect& edges);
    void setWindowClipping(std::int32_t top, std::int32_t left, std::int32_t bottom, std::int32_t right);
    void setInvalidateWindowFunc(InvalidateWindowFunc func);

    // Browser-window coordinates to plug-in coordinates.
    void translateWindowToPlugin(std::int32_t& x, std::int32_t& y) const;

    Rect getWindowPosition() const override;
    std::int32_t getWindowWidth() const override;
    std::int32_t getWindowHeight() const override;
    Rect getWindowClipping() const override;
    void invalidateWindow() override;

protected:
    // Mouse events at a browser-window point, sent in plug-in coordinates.
    bool sendMouseDown(std::int32_t button, std::int32_t x, std::int32_t y);
    bool sendMouseUp(std::int32_t button, std::int32_t x, std::int32_t y);
    bool sendMouseMove(std::int32_t x, std::int32_t y);

    // Guards the geometry and a whole event delivery (recursive: a handler may ask for
    // the geometry or invalidate the window).
    mutable std::recursive_mutex m_windowMutex;

private:
    std::int32_t m_x = 0;
    std::int32_t m_y = 0;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    Rect m_clipping{0, 0, 0, 0};
    InvalidateWindowFunc m_invalidateWindow;
};

} // namespace FB
