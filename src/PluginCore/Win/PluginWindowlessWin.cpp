#include "PluginWindowlessWin.h"

#include "PluginEvents/GeneralEvents.h"
#include "PluginEvents/KeyboardEvents.h"
#include "PluginEvents/MouseEvents.h"
#include "WindowsEvent.h"

namespace FB {

using Lock = std::lock_guard<std::recursive_mutex>;

PluginWindowlessWin::PluginWindowlessWin(const WindowContextWindowless& ctx)
    : m_hdc(ctx.drawable), m_browserHwnd(nullptr) {}

PluginWindowlessWin::~PluginWindowlessWin() = default;

HDC PluginWindowlessWin::getHDC() const {
    Lock lock(m_windowMutex);
    return m_hdc;
}

void PluginWindowlessWin::setHDC(HDC hdc) {
    Lock lock(m_windowMutex);
    m_hdc = hdc;
}

HWND PluginWindowlessWin::getHWND() const {
    Lock lock(m_windowMutex);
    return m_browserHwnd;
}

void PluginWindowlessWin::setHWND(HWND browserWindow) {
    Lock lock(m_windowMutex);
    m_browserHwnd = browserWindow;
}

bool PluginWindowlessWin::handleWindowlessEvent(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    const Delivery delivery(*this);
    LRESULT answer = 0;
    WindowsEvent raw(nullptr, msg, wParam, lParam, answer);
    if (sendEvent(&raw)) {
        lRes = answer;
        return true;
    }
    if (delivery.windowGone())
        return false;

    switch (msg) {
    case WM_PAINT: {
        // The browser hands the device context to paint into with each paint.
        HDC hdc = reinterpret_cast<HDC>(wParam);
        if (hdc != m_hdc)
            m_hdc = hdc;
        RefreshEvent event;
        if (!sendEvent(&event) && !delivery.windowGone())
            drawDefaultFace(m_hdc);
        return false;
    }
    case WM_KEYDOWN: {
        KeyDownEvent event(translateVirtualKey(static_cast<std::uint32_t>(wParam)), static_cast<std::int32_t>(wParam));
        return sendEvent(&event);
    }
    case WM_KEYUP: {
        KeyUpEvent event(translateVirtualKey(static_cast<std::uint32_t>(wParam)), static_cast<std::int32_t>(wParam));
        return sendEvent(&event);
    }
    case WM_MOUSEMOVE:
        return sendMouseMove(mouseX(lParam), mouseY(lParam));
    case WM_LBUTTONDOWN:
        return sendMouseDown(MouseButton_Left, mouseX(lParam), mouseY(lParam));
    case WM_RBUTTONDOWN:
        return sendMouseDown(MouseButton_Right, mouseX(lParam), mouseY(lParam));
    case WM_MBUTTONDOWN:
        return sendMouseDown(MouseButton_Middle, mouseX(lParam), mouseY(lParam));
    case WM_LBUTTONUP:
        return sendMouseUp(MouseButton_Left, mouseX(lParam), mouseY(lParam));
    case WM_RBUTTONUP:
        return sendMouseUp(MouseButton_Right, mouseX(lParam), mouseY(lParam));
    case WM_MBUTTONUP:
        return sendMouseUp(MouseButton_Middle, mouseX(lParam), mouseY(lParam));
    default:
        return false;
    }
}

void PluginWindowlessWin::drawDefaultFace(HDC hdc) {
    if (!hdc)
        return;  // nothing to paint into yet
    static const wchar_t kText[] = L"Scriptable Plugin";
    const Rect pos = getWindowPosition();
    SetTextAlign(hdc, TA_CENTER | TA_BASELINE);
    TextOutW(hdc, midpoint(pos.left, pos.right), midpoint(pos.top, pos.bottom), kText,
             static_cast<int>(sizeof(kText) / sizeof(kText[0])) - 1);
}

} // namespace FB
