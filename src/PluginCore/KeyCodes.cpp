#include "PluginEvents/KeyCodes.h"

namespace FB {

FBKeyCode translateVirtualKey(std::uint32_t virtualKey) {
    // The numeric pad and the function keys are contiguous runs of virtual keys, but their
    // framework codes are not (F2 follows F19): every key is listed on its own.
    switch (virtualKey) {
    case 0x6B: return FBKEY_ADD;
    case 0x12: return FBKEY_ALT;
    case 0x03: return FBKEY_CANCEL;
    case 0x14: return FBKEY_CAPSLOCK;
    case 0x0C: return FBKEY_CLEAR;
    case 0x11: return FBKEY_CONTROL;
    case 0x6E: return FBKEY_DECIMAL;
    case 0x2E: return FBKEY_DELETE;
    case 0x6F: return FBKEY_DIVIDE;
    case 0x1B: return FBKEY_ESCAPE;
    case 0x2B: return FBKEY_EXECUTE;
    case 0x70: return FBKEY_F1;
    case 0x79: return FBKEY_F10;
    case 0x7A: return FBKEY_F11;
    case 0x7B: return FBKEY_F12;
    case 0x7C: return FBKEY_F13;
    case 0x7D: return FBKEY_F14;
    case 0x7E: return FBKEY_F15;
    case 0x7F: return FBKEY_F16;
    case 0x80: return FBKEY_F17;
    case 0x81: return FBKEY_F18;
    case 0x82: return FBKEY_F19;
    case 0x71: return FBKEY_F2;
    case 0x83: return FBKEY_F20;
    case 0x84: return FBKEY_F21;
    case 0x85: return FBKEY_F22;
    case 0x72: return FBKEY_F3;
    case 0x73: return FBKEY_F4;
    case 0x74: return FBKEY_F5;
    case 0x75: return FBKEY_F6;
    case 0x76: return FBKEY_F7;
    case 0x77: return FBKEY_F8;
    case 0x78: return FBKEY_F9;
    case 0x2F: return FBKEY_HELP;
    case 0x2D: return FBKEY_INSERT;
    case 0x01: return FBKEY_LBUTTON;
    case 0x04: return FBKEY_MBUTTON;
    case 0x6A: return FBKEY_MULTIPLY;
    case 0x90: return FBKEY_NUMLOCK;
    case 0x60: return FBKEY_NUMPAD0;
    case 0x61: return FBKEY_NUMPAD1;
    case 0x62: return FBKEY_NUMPAD2;
    case 0x63: return FBKEY_NUMPAD3;
    case 0x64: return FBKEY_NUMPAD4;
    case 0x65: return FBKEY_NUMPAD5;
    case 0x66: return FBKEY_NUMPAD6;
    case 0x67: return FBKEY_NUMPAD7;
    case 0x68: return FBKEY_NUMPAD8;
    case 0x69: return FBKEY_NUMPAD9;
    case 0x22: return FBKEY_PAGEDOWN;
    case 0x21: return FBKEY_PAGEUP;
    case 0x02: return FBKEY_RBUTTON;
    case 0x0D: return FBKEY_RETURN;
    case 0x91: return FBKEY_SCROLLLOCK;
    case 0x29: return FBKEY_SELECT;
    case 0x6C: return FBKEY_SEPARATOR;
    case 0x10: return FBKEY_SHIFT;
    case 0x2C: return FBKEY_SNAPSHOT;
    case 0x20: return FBKEY_SPACE;
    case 0x6D: return FBKEY_SUBTRACT;
    case 0x09: return FBKEY_TAB;
    case 0x26: return FBKEY_UP;
    case 0x28: return FBKEY_DOWN;
    case 0x25: return FBKEY_LEFT;
    case 0x27: return FBKEY_RIGHT;
    case 0x5B: return FBKEY_LWIN;
    case 0x5D: return FBKEY_APPS;
    case 0x5C: return FBKEY_RWIN;
    case 0x08: return FBKEY_BACK;
    case 0x23: return FBKEY_END;
    case 0x24: return FBKEY_HOME;
    case 0x13: return FBKEY_PAUSE;
    case 0x2A: return FBKEY_PRINT;
    default: return FBKEY_UNKNOWN;
    }
}

} // namespace FB
