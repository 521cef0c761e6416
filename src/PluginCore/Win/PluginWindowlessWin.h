#pragma once
// FB::PluginWindowlessWin: a windowless plug-in on Windows. It paints into the browser's
// device context and receives the browser's window messages through the adapter, which
// calls handleWindowlessEvent for each.

#include "PluginWindowless.h"

#include <windows.h>

namespace FB {

struct WindowContextWindowless {
    explicit WindowContextWindowless(HDC dc) : drawable(dc) {}
    HDC drawable;  // may be null until the first paint brings one
};

class PluginWindowlessWin : public PluginWindowless {
public:
    explicit PluginWindowlessWin(const WindowContextWindowless& ctx);
    ~PluginWindowlessWin() override;

    HDC getHDC() const;
    void setHDC(HDC hdc);
    HWND getHWND() const;
    void setHWND(HWND browserWindow);

    // One message from the browser; true when the plug-in handled it (lRes is then the
    // answer a WindowsEvent handler gave).
    bool handleWindowlessEvent(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

private:
    void drawDefaultFace(HDC hdc);

    HDC m_hdc;
    HWND m_browserHwnd;
};

} // namespace FB
