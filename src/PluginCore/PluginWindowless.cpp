#include "PluginWindowless.h"

#include "PluginEvents/MouseEvents.h"

#include <limits>
#include <utility>

namespace FB {

using Lock = std::lock_guard<std::recursive_mutex>;

std::int32_t PluginWindowless::saturated(std::int64_t value) {
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

PluginWindowless::PluginWindowless() = default;

PluginWindowless::~PluginWindowless() = default;

void PluginWindowless::setWindowPosition(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
    Lock lock(m_windowMutex);
    m_x = x;
    m_y = y;
    m_width = width;
    m_height = height;
}

void PluginWindowless::setWindowPosition(const Rect& edges) {
    setWindowPosition(edges.left, edges.top, saturated(static_cast<std::int64_t>(edges.right) - edges.left),
                      saturated(static_cast<std::int64_t>(edges.bottom) - edges.top));
}

void PluginWindowless::setWindowClipping(std::int32_t top, std::int32_t left, std::int32_t bottom, std::int32_t right) {
    Lock lock(m_windowMutex);
    m_clipping = Rect{top, left, bottom, right};
}

void PluginWindowless::setInvalidateWindowFunc(InvalidateWindowFunc func) {
    Lock lock(m_windowMutex);
    m_invalidateWindow = std::move(func);
}

void PluginWindowless::translateWindowToPlugin(std::int32_t& x, std::int32_t& y) const {
    Lock lock(m_windowMutex);
    x = saturated(static_cast<std::int64_t>(x) - m_x);
    y = saturated(static_cast<std::int64_t>(y) - m_y);
}

Rect PluginWindowless::getWindowPosition() const {
    Lock lock(m_windowMutex);
    return Rect{m_y, m_x, saturated(static_cast<std::int64_t>(m_y) + m_height),
                saturated(static_cast<std::int64_t>(m_x) + m_width)};
}

std::int32_t PluginWindowless::getWindowWidth() const {
    Lock lock(m_windowMutex);
    return m_width;
}

std::int32_t PluginWindowless::getWindowHeight() const {
    Lock lock(m_windowMutex);
    return m_height;
}

Rect PluginWindowless::getWindowClipping() const {
    Lock lock(m_windowMutex);
    return m_clipping;
}

void PluginWindowless::invalidateWindow() {
    Lock lock(m_windowMutex);
    const Rect pos = getWindowPosition();
    if (m_invalidateWindow)
        m_invalidateWindow(static_cast<std::uint32_t>(pos.left), static_cast<std::uint32_t>(pos.top),
                           static_cast<std::uint32_t>(pos.right), static_cast<std::uint32_t>(pos.bottom));
}

bool PluginWindowless::sendMouseDown(std::int32_t button, std::int32_t x, std::int32_t y) {
    translateWindowToPlugin(x, y);
    MouseDownEvent event(button, x, y);
    return sendEvent(&event);
}

bool PluginWindowless::sendMouseUp(std::int32_t button, std::int32_t x, std::int32_t y) {
    translateWindowToPlugin(x, y);
    MouseUpEvent event(button, x, y);
    return sendEvent(&event);
}

bool PluginWindowless::sendMouseMove(std::int32_t x, std::int32_t y) {
    translateWindowToPlugin(x, y);
    MouseMoveEvent event(x, y);
    return sendEvent(&event);
}

} // namespace FB
