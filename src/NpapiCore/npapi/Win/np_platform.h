#pragma once
// Windows part of the NPAPI declarations (XP_WIN in the published headers): no ABI mask,
// a window without ws_info, the Windows event record and GDI regions.

#include <windows.h>

#include <cstdint>

#define NP_ABI_MASK 0

typedef HRGN NPRegion;

typedef struct _NPWindow {
    void* window;  // HWND when windowed, HDC when windowless
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
    NPWindowType type;
} NPWindow;

// A window message for a windowless plug-in.
typedef struct _NPEvent {
    uint16_t event;
    uintptr_t wParam;
    intptr_t lParam;
} NPEvent;
