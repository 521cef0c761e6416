#pragma once
// Mouse input in plug-in coordinates (origin at the plug-in's top-left corner).

#include "PluginEvent.h"

#include <cstdint>

namespace FB {

enum MouseButton : std::int32_t { MouseButton_Left = 0, MouseButton_Right = 1, MouseButton_Middle = 2 };

class MouseDownEvent : public PluginEvent {
public:
    MouseDownEvent(std::int32_t btn, std::int32_t xPos, std::int32_t yPos) : m_Btn(btn), m_x(xPos), m_y(yPos) {}
    std::int32_t m_Btn;
    std::int32_t m_x;
    std::int32_t m_y;
};

class MouseUpEvent : public PluginEvent {
public:
    MouseUpEvent(std::int32_t btn, std::int32_t xPos, std::int32_t yPos) : m_Btn(btn), m_x(xPos), m_y(yPos) {}
    std::int32_t m_Btn;
    std::int32_t m_x;
    std::int32_t m_y;
};

class MouseMoveEvent : public PluginEvent {
public:
    MouseMoveEvent(std::int32_t xPos, std::int32_t yPos) : m_x(xPos), m_y(yPos) {}
    std::int32_t m_x;
    std::int32_t m_y;
};

// The two signed 16-bit halves of a Windows mouse message's lParam, each sign-extended:
// x from bits 0-15, y from bits 16-31 (a point left of or above a window is negative).
inline std::int32_t mouseX(std::intptr_t lParam) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uintptr_t>(lParam) & 0xFFFFu));
}
inline std::int32_t mouseY(std::intptr_t lParam) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((static_cast<std::uintptr_t>(lParam) >> 16) & 0xFFFFu));
}

} // namespace FB
