#pragma once
// A hidden message-only window whose message procedure runs posted calls: the
// main-thread hand-over for hosts whose browser has no thread-call service of its own.
// The calls run on the thread that created the window.

#include <windows.h>

namespace FB {

class WinMessageWindow {
public:
    // The posted-call message (WM_USER + 1); its lParam is a heap record of the function
    // and its data pointer, freed once the call has run.
    static constexpr UINT WM_ASYNCTHREADINVOKE = WM_USER + 1;

    // std::runtime_error "Could not register window class" / "Could not create Message
    // Window" when the window cannot be made.
    WinMessageWindow();
    // Runs the calls still queued for the window (each once), then destroys it. Call on
    // the creating thread.
    ~WinMessageWindow();
    WinMessageWindow(const WinMessageWindow&) = delete;
    WinMessageWindow& operator=(const WinMessageWindow&) = delete;

    HWND getHWND() const { return m_hWnd; }

    // Posts func(userData) to the window; the result of the post. A record the post
    // could not deliver is freed here. Any thread.
    bool scheduleAsyncCall(void (*func)(void*), void* userData) const;

private:
    HWND m_hWnd;
};

} // namespace FB
