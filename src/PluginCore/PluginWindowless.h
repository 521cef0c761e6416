#pragma once
// FB::PluginWindowless: what every windowless plug-in window shares, whatever the
// platform. The browser owns the surface and tells the adapter where the plug-in sits;
// the adapter passes the geometry on here and delivers the browser's input events to the
// platform class (PluginWindowlessWin, PluginWindowlessX11), which turns them into event
// records in plug-in coordinates.
//
// Coordinates are 32-bit and the browser may give any position and size: sums and
// differences are taken wider and saturate at the ends of the range instead of wrapping.

#include "PluginWindow.h"

#include <cstdint>
#include <functional>
#include <memory>
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

    // Holds the window's mutex over a whole event delivery and tells whether a handler
    // destroyed the window meanwhile (a browser may clear it from a nested message loop):
    // after that nothing of the window may be touched, and the mutex, which outlives the
    // window for this, is still released.
    class Delivery {
    public:
        explicit Delivery(const PluginWindowless& window)
            : m_mutex(window.m_windowMutexBlock), m_lifetime(window.lifetime()), m_lock(*m_mutex) {}
        bool windowGone() const { return m_lifetime->destroyed; }

    private:
        std::shared_ptr<std::recursive_mutex> m_mutex;
        std::shared_ptr<Lifetime> m_lifetime;
        std::lock_guard<std::recursive_mutex> m_lock;
    };

    // x + (y - x) / 2, which always fits.
    static std::int32_t midpoint(std::int32_t x, std::int32_t y) {
        return static_cast<std::int32_t>(x + (static_cast<std::int64_t>(y) - x) / 2);
    }
    static std::int32_t saturated(std::int64_t value);

private:
    const std::shared_ptr<std::recursive_mutex> m_windowMutexBlock = std::make_shared<std::recursive_mutex>();

protected:
    // Guards the geometry and a whole event delivery (recursive: a handler may ask for
    // the geometry or invalidate the window).
    std::recursive_mutex& m_windowMutex = *m_windowMutexBlock;

private:
    std::int32_t m_x = 0;
    std::int32_t m_y = 0;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    Rect m_clipping{0, 0, 0, 0};
    InvalidateWindowFunc m_invalidateWindow;
};

} // namespace FB
