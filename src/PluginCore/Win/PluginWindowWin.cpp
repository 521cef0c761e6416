#include "PluginWindowWin.h"

#include "PluginEvents/GeneralEvents.h"
#include "PluginEvents/KeyboardEvents.h"
#include "PluginEvents/MouseEvents.h"
#include "WindowsEvent.h"
#include "logging.h"

#include <algorithm>
#include <exception>
#include <map>
#include <memory>
#include <vector>

namespace FB {

namespace {

// Every windowed plug-in window of the process, by handle; used on the main thread only.
// A handle may have more than one object (a second one made for a window the first still
// serves): the newest gets the messages, each keeps the window's own procedure, and the
// last to go gives it back.
struct Subclassed {
    WNDPROC original;
    std::vector<PluginWindowWin*> windows;  // oldest first
};

std::map<HWND, Subclassed>& windowRegistry() {
    static std::map<HWND, Subclassed> registry;
    return registry;
}

WNDPROC sharedProc() {
    return &PluginWindowWin::_WinProc;
}

WNDPROC currentProc(HWND hWnd) {
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hWnd, GWLP_WNDPROC));
}

template <typename Event>
bool sendMouse(PluginWindowWin& window, std::int32_t button, LPARAM lParam) {
    Event event(button, mouseX(lParam), mouseY(lParam));
    return window.sendEvent(&event);
}

} // namespace

PluginWindowWin::PluginWindowWin(const WindowContextWin& ctx)
    : m_oldWinProc(nullptr), m_callOldWinProc(false), m_hWnd(ctx.handle), m_browserhWnd(nullptr) {
    auto& registry = windowRegistry();
    auto it = registry.find(m_hWnd);
    if (it != registry.end() && !it->second.windows.empty() && IsWindow(m_hWnd) && currentProc(m_hWnd) == sharedProc()) {
        // Already ours: the procedure to keep is the one the first object replaced.
        m_oldWinProc = it->second.original;
        it->second.windows.push_back(this);
        return;
    }
    // A new window, or a handle reused by one: objects left from before no longer own it.
    m_oldWinProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(sharedProc())));
    if (!m_oldWinProc)
        FBLOG_WARN("PluginWindow", "Could not subclass window " << static_cast<const void*>(m_hWnd) << ": error "
                                                                 << GetLastError());
    registry[m_hWnd] = Subclassed{m_oldWinProc, {this}};
}

PluginWindowWin::~PluginWindowWin() {
    auto& registry = windowRegistry();
    auto it = registry.find(m_hWnd);
    // The handle may have died and been reused by a newer plug-in window: that one keeps
    // its entry and its subclassing.
    if (it == registry.end())
        return;
    auto& windows = it->second.windows;
    auto self = std::find(windows.begin(), windows.end(), this);
    if (self == windows.end())
        return;
    windows.erase(self);
    if (!windows.empty())
        return;  // another object still serves the window
    const WNDPROC original = it->second.original;
    registry.erase(it);
    if (original && IsWindow(m_hWnd) && currentProc(m_hWnd) == sharedProc())
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
}

PluginWindowWin* PluginWindowWin::fromHWND(HWND hWnd) {
    auto& registry = windowRegistry();
    auto it = registry.find(hWnd);
    return it == registry.end() || it->second.windows.empty() ? nullptr : it->second.windows.back();
}

LRESULT CALLBACK PluginWindowWin::_WinProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    PluginWindowWin* window = fromHWND(hWnd);
    if (!window)
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);

    // No exception may unwind through the system's message dispatch: a failing handler
    // costs its message the plug-in's answer, not the browser.
    LRESULT lRes = 0;
    try {
        if (window->processWindowMessage(hWnd, uMsg, wParam, lParam, lRes))
            return lRes;
    } catch (const std::exception& e) {
        FBLOG_WARN("PluginWindow", "Message 0x" << std::hex << uMsg << " failed: " << e.what());
    } catch (...) {
        FBLOG_WARN("PluginWindow", "Message 0x" << std::hex << uMsg << " failed");
    }
    // A handler may have deleted the window object: look it up again.
    window = fromHWND(hWnd);
    if (window && window->m_callOldWinProc && window->m_oldWinProc)
        return CallWindowProcW(window->m_oldWinProc, hWnd, uMsg, wParam, lParam);
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

bool PluginWindowWin::processWindowMessage(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lRes) {
    lRes = 0;
    // A handler may delete this object (the browser can clear the window from a nested
    // message loop, such as an error box's): nothing of it is touched after that.
    const std::shared_ptr<Lifetime> life = lifetime();
    WindowsEvent raw(hWnd, uMsg, wParam, lParam, lRes);
    if (sendEvent(&raw))
        return true;
    if (life->destroyed)
        return false;

    switch (uMsg) {
    case WM_LBUTTONDOWN:
        SetFocus(hWnd);  // which sends messages of its own
        if (life->destroyed)
            return false;
        return sendMouse<MouseDownEvent>(*this, MouseButton_Left, lParam);
    case WM_RBUTTONDOWN:
        return sendMouse<MouseDownEvent>(*this, MouseButton_Right, lParam);
    case WM_MBUTTONDOWN:
        return sendMouse<MouseDownEvent>(*this, MouseButton_Middle, lParam);
    case WM_LBUTTONUP:
        return sendMouse<MouseUpEvent>(*this, MouseButton_Left, lParam);
    case WM_RBUTTONUP:
        return sendMouse<MouseUpEvent>(*this, MouseButton_Right, lParam);
    case WM_MBUTTONUP:
        return sendMouse<MouseUpEvent>(*this, MouseButton_Middle, lParam);
    case WM_MOUSEMOVE: {
        MouseMoveEvent event(mouseX(lParam), mouseY(lParam));
        return sendEvent(&event);
    }
    case WM_KEYDOWN: {
        KeyDownEvent event(translateVirtualKey(static_cast<std::uint32_t>(wParam)), static_cast<std::int32_t>(wParam));
        return sendEvent(&event);
    }
    case WM_KEYUP: {
        KeyUpEvent event(translateVirtualKey(static_cast<std::uint32_t>(wParam)), static_cast<std::int32_t>(wParam));
        return sendEvent(&event);
    }
    case WM_TIMER: {
        TimerEvent event(static_cast<std::int32_t>(wParam), static_cast<std::intptr_t>(lParam));
        return sendEvent(&event);
    }
    case WM_SIZE: {
        ResizedEvent event;
        return sendEvent(&event);
    }
    case WM_PAINT: {
        RefreshEvent event;
        if (!sendEvent(&event)) {
            // Nobody paints: validate the window, or the system sends WM_PAINT forever.
            PAINTSTRUCT ps;
            BeginPaint(hWnd, &ps);
            EndPaint(hWnd, &ps);
            return true;
        }
        if (life->destroyed)
            return false;
        break;
    }
    default:
        break;
    }
    return customWinProc(hWnd, uMsg, wParam, lParam, lRes);
}

bool PluginWindowWin::customWinProc(HWND, UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

void PluginWindowWin::invalidateWindow() {
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

Rect PluginWindowWin::getWindowPosition() const {
    RECT rect{0, 0, 0, 0};
    GetWindowRect(m_hWnd, &rect);
    return Rect{rect.top, rect.left, rect.bottom, rect.right};
}

std::int32_t PluginWindowWin::getWindowWidth() const {
    const Rect pos = getWindowPosition();
    return pos.right - pos.left;
}

std::int32_t PluginWindowWin::getWindowHeight() const {
    const Rect pos = getWindowPosition();
    return pos.bottom - pos.top;
}

Rect PluginWindowWin::getWindowClipping() const {
    return getWindowPosition();
}

} // namespace FB
