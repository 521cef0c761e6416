#include "PluginWindowlessX11.h"

#include <X11/keysym.h>

namespace FB {

unsigned keysymToVirtualKey(unsigned long keysym) {
    // Letters and digits have virtual keys of their own (the upper-case letter, the digit).
    if (keysym >= XK_a && keysym <= XK_z)
        return static_cast<unsigned>(keysym - XK_a + 'A');
    if ((keysym >= XK_A && keysym <= XK_Z) || (keysym >= XK_0 && keysym <= XK_9))
        return static_cast<unsigned>(keysym);
    if (keysym >= XK_F1 && keysym <= XK_F24)
        return static_cast<unsigned>(0x70 + (keysym - XK_F1));
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9)
        return static_cast<unsigned>(0x60 + (keysym - XK_KP_0));
    switch (keysym) {
    case XK_KP_Add: return 0x6B;
    case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: case XK_Meta_R: return 0x12;
    case XK_Cancel: return 0x03;
    case XK_Caps_Lock: return 0x14;
    case XK_Clear: case XK_KP_Begin: return 0x0C;
    case XK_Control_L: case XK_Control_R: return 0x11;
    case XK_KP_Decimal: return 0x6E;
    case XK_Delete: case XK_KP_Delete: return 0x2E;
    case XK_KP_Divide: return 0x6F;
    case XK_Escape: return 0x1B;
    case XK_Execute: return 0x2B;
    case XK_Help: return 0x2F;
    case XK_Insert: case XK_KP_Insert: return 0x2D;
    case XK_KP_Multiply: return 0x6A;
    case XK_Num_Lock: return 0x90;
    case XK_Next: case XK_KP_Next: return 0x22;
    case XK_Prior: case XK_KP_Prior: return 0x21;
    case XK_Return: case XK_KP_Enter: return 0x0D;
    case XK_Scroll_Lock: return 0x91;
    case XK_Select: return 0x29;
    case XK_KP_Separator: return 0x6C;
    case XK_Shift_L: case XK_Shift_R: return 0x10;
    case XK_Print: return 0x2C;  // the Print Screen key
    case XK_space: case XK_KP_Space: return 0x20;
    case XK_KP_Subtract: return 0x6D;
    case XK_Tab: case XK_KP_Tab: case XK_ISO_Left_Tab: return 0x09;
    case XK_Up: case XK_KP_Up: return 0x26;
    case XK_Down: case XK_KP_Down: return 0x28;
    case XK_Left: case XK_KP_Left: return 0x25;
    case XK_Right: case XK_KP_Right: return 0x27;
    case XK_Super_L: return 0x5B;
    case XK_Super_R: return 0x5C;
    case XK_Menu: return 0x5D;
    case XK_BackSpace: return 0x08;
    case XK_End: case XK_KP_End: return 0x23;
    case XK_Home: case XK_KP_Home: return 0x24;
    case XK_Pause: case XK_Break: return 0x13;
    default: return 0;
    }
}

} // namespace FB
