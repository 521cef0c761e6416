#pragma once
// FB::PluginWindowWin: the plug-in's own child window (windowed mode). The window is
// subclassed with one window procedure shared by every plug-in window of the process,
// which finds the object through a process-wide registry and turns messages into events.

#include "PluginWindow.h"

#include <windows.h>

namespace FB {

struct WindowContextWin {
    explicit WindowContextWin(HWND hwnd) : handle(hwnd) {}
    HWND handle;
};

class PluginWindowWin : public PluginWindow {
public:
    // Subclasses the window and registers it.
    explicit PluginWindowWin(const WindowContextWin& ctx);
    // Puts the replaced procedure back if ours is still in place, and unregisters.
    ~PluginWindowWin() override;

    HWND getHWND() const { return m_hWnd; }
    HWND getBrowserHWND() const { return m_browserhWnd; }
    void setBrowserHWND(HWND hWnd) { m_browserhWnd = hWnd; }
    // Whether messages nobody handles go to the replaced procedure (true) or to the
    // system's default processing (false, the default).
    void setCallOldWinProc(bool callOld) { m_callOldWinProc = callOld; }
    bool getCallOldWinProc() const { return m_callOldWinProc; }
    WNDPROC getOldWinProc() const { return m_oldWinProc; }

    void invalidateWindow() override;
    Rect getWindowPosition() const override;
    std::int32_t getWindowWidth() const override;
    std::int32_t getWindowHeight() const override;
    Rect getWindowClipping() const override;

    // Messages that have no event of their own; true (with lRes set) when answered.
    virtual bool customWinProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

    // The procedure every plug-in window is subclassed with.
    static LRESULT CALLBACK _WinProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    // The object registered for a window handle; null when none.
    static PluginWindowWin* fromHWND(HWND hWnd);

protected:
    // True when the message was handled, with its answer in lRes.
    virtual bool processWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes);

    WNDPROC m_oldWinProc;
    bool m_callOldWinProc;
    HWND m_hWnd;
    HWND m_browserhWnd;
};

} // namespace FB
