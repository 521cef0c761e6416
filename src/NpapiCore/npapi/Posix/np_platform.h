#pragma once
// Unix part of the NPAPI declarations (XP_UNIX with X11 in the published headers): a
// window with ws_info, X events and X regions. The X types are only named here, so that
// including these declarations does not pull in Xlib.

#include <cstdint>

// gcc 3 and later on Unix: the selectors that pass C++ interfaces carry this mask.
#define NP_ABI_MASK 0x10000000

typedef union _XEvent NPEvent;  // XEvent
typedef struct _XRegion* NPRegion;  // Region

typedef struct _NPWindow {
    void* window;  // an X window id when windowed; null for a windowless drawable
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
    void* ws_info;  // NPSetWindowCallbackStruct
    NPWindowType type;
} NPWindow;

enum { NP_SETWINDOW = 1, NP_PRINT };

typedef struct {
    int32_t type;
} NPAnyCallbackStruct;
