#pragma once
// A raw window message offered to the plug-in before the window turns it into an event
// record. A handler that answers the message sets lRes and returns true; the window then
// returns lRes to the system (windowed) or to the adapter (windowless).

#include "PluginEvent.h"

#include <windows.h>

namespace FB {

class WindowsEvent : public PluginEvent {
public:
    WindowsEvent(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, LRESULT& lres)
        : hWnd(hwnd), uMsg(msg), wParam(wparam), lParam(lparam), lRes(lres) {}

    HWND hWnd;  // null for a windowless plug-in
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT& lRes;
};

} // namespace FB
