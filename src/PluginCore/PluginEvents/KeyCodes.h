#pragma once
// The framework's key codes: one code per key whatever the platform, so plug-in code never
// reads Windows virtual keys or X keysyms. Keys without a code of their own (letters and
// digits among them) all give FBKEY_UNKNOWN.

#include <cstdint>

namespace FB {

enum FBKeyCode : std::int32_t {
    FBKEY_ADD = 0, FBKEY_ALT = 1, FBKEY_CANCEL = 2, FBKEY_CAPSLOCK = 3, FBKEY_CLEAR = 4,
    FBKEY_CONTROL = 5, FBKEY_DECIMAL = 6, FBKEY_DELETE = 7, FBKEY_DIVIDE = 8, FBKEY_ESCAPE = 9,
    FBKEY_EXECUTE = 10,
    FBKEY_F1 = 11, FBKEY_F10 = 12, FBKEY_F11 = 13, FBKEY_F12 = 14, FBKEY_F13 = 15, FBKEY_F14 = 16,
    FBKEY_F15 = 17, FBKEY_F16 = 18, FBKEY_F17 = 19, FBKEY_F18 = 20, FBKEY_F19 = 21, FBKEY_F2 = 22,
    FBKEY_F20 = 23, FBKEY_F21 = 24, FBKEY_F22 = 25, FBKEY_F3 = 26, FBKEY_F4 = 27, FBKEY_F5 = 28,
    FBKEY_F6 = 29, FBKEY_F7 = 30, FBKEY_F8 = 31, FBKEY_F9 = 32,
    FBKEY_HELP = 33, FBKEY_INSERT = 34, FBKEY_LBUTTON = 35, FBKEY_MBUTTON = 36, FBKEY_MULTIPLY = 37,
    FBKEY_NUMLOCK = 38,
    FBKEY_NUMPAD0 = 39, FBKEY_NUMPAD1 = 40, FBKEY_NUMPAD2 = 41, FBKEY_NUMPAD3 = 42, FBKEY_NUMPAD4 = 43,
    FBKEY_NUMPAD5 = 44, FBKEY_NUMPAD6 = 45, FBKEY_NUMPAD7 = 46, FBKEY_NUMPAD8 = 47, FBKEY_NUMPAD9 = 48,
    FBKEY_PAGEDOWN = 49, FBKEY_PAGEUP = 50, FBKEY_RBUTTON = 51, FBKEY_RETURN = 52, FBKEY_SCROLLLOCK = 53,
    FBKEY_SELECT = 54, FBKEY_SEPARATOR = 55, FBKEY_SHIFT = 56, FBKEY_SNAPSHOT = 57, FBKEY_SPACE = 58,
    FBKEY_SUBTRACT = 59, FBKEY_TAB = 60, FBKEY_UP = 61, FBKEY_DOWN = 62, FBKEY_LEFT = 63,
    FBKEY_RIGHT = 64, FBKEY_LWIN = 65, FBKEY_APPS = 66, FBKEY_RWIN = 67, FBKEY_BACK = 68,
    FBKEY_END = 69, FBKEY_HOME = 70, FBKEY_PAUSE = 71, FBKEY_PRINT = 72,
    FBKEY_UNKNOWN = 84
};

// A Windows virtual-key code (VK_...) as a framework key code.
FBKeyCode translateVirtualKey(std::uint32_t virtualKey);

} // namespace FB
