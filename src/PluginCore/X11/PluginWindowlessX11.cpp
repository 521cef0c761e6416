#include "PluginWindowlessX11.h"

#include "PluginEvents/GeneralEvents.h"
#include "PluginEvents/KeyboardEvents.h"
#include "PluginEvents/MouseEvents.h"
#include "X11Event.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>

namespace FB {

using Lock = std::lock_guard<std::recursive_mutex>;

namespace {

// X buttons 1-3 are left, middle and right; 4 and up are wheel steps and side buttons.
bool frameworkButton(unsigned xButton, std::int32_t& button) {
    switch (xButton) {
    case Button1: button = MouseButton_Left; return true;
    case Button2: button = MouseButton_Middle; return true;
    case Button3: button = MouseButton_Right; return true;
    default: return false;
    }
}

template <typename Event>
bool sendKey(PluginEventSource& source, const XKeyEvent& key) {
    // The keysym the modifiers select (Num Lock turns the keypad into digits). A synthetic
    // event without a display cannot be looked up; it still counts as a key.
    KeySym keysym = NoSymbol;
    if (key.display) {
        XKeyEvent copy = key;
        char text[8];
        XLookupString(&copy, text, sizeof text, &keysym, nullptr);
    }
    Event event(translateVirtualKey(keysymToVirtualKey(keysym)), static_cast<std::int32_t>(keysym));
    return source.sendEvent(&event);
}

} // namespace

PluginWindowlessX11::PluginWindowlessX11(const WindowContextWindowless& ctx)
    : m_display(ctx.display), m_drawable(ctx.drawable), m_browserWindow(0) {}

PluginWindowlessX11::~PluginWindowlessX11() = default;

Display* PluginWindowlessX11::getDisplay() const {
    Lock lock(m_windowMutex);
    return m_display;
}

XDrawable PluginWindowlessX11::getDrawable() const {
    Lock lock(m_windowMutex);
    return m_drawable;
}

void PluginWindowlessX11::setDrawable(Display* display, XDrawable drawable) {
    Lock lock(m_windowMutex);
    m_display = display;
    m_drawable = drawable;
}

XDrawable PluginWindowlessX11::getBrowserWindow() const {
    Lock lock(m_windowMutex);
    return m_browserWindow;
}

void PluginWindowlessX11::setBrowserWindow(XDrawable window) {
    Lock lock(m_windowMutex);
    m_browserWindow = window;
}

bool PluginWindowlessX11::handleX11Event(const XEvent& event) {
    const Delivery delivery(*this);
    X11Event raw(event);
    if (sendEvent(&raw))
        return true;
    if (delivery.windowGone())
        return false;

    std::int32_t button = 0;
    switch (event.type) {
    case GraphicsExpose: {
        // The browser may paint through a different drawable each time.
        const XGraphicsExposeEvent& expose = event.xgraphicsexpose;
        if (expose.drawable != m_drawable || (expose.display && expose.display != m_display)) {
            m_drawable = expose.drawable;
            if (expose.display)
                m_display = expose.display;
        }
        RefreshEvent refresh;
        if (!sendEvent(&refresh) && !delivery.windowGone())
            drawDefaultFace();
        return false;
    }
    case ButtonPress:
        if (!frameworkButton(event.xbutton.button, button))
            return false;
        return sendMouseDown(button, event.xbutton.x, event.xbutton.y);
    case ButtonRelease:
        if (!frameworkButton(event.xbutton.button, button))
            return false;
        return sendMouseUp(button, event.xbutton.x, event.xbutton.y);
    case MotionNotify:
        return sendMouseMove(event.xmotion.x, event.xmotion.y);
    case KeyPress:
        return sendKey<KeyDownEvent>(*this, event.xkey);
    case KeyRelease:
        return sendKey<KeyUpEvent>(*this, event.xkey);
    default:
        return false;
    }
}

void PluginWindowlessX11::drawDefaultFace() {
    if (!m_display || !m_drawable)
        return;  // nothing to paint into yet
    static const char kText[] = "Scriptable Plugin";
    const int length = static_cast<int>(std::strlen(kText));
    const Rect pos = getWindowPosition();
    GC gc = XCreateGC(m_display, m_drawable, 0, nullptr);
    if (!gc)
        return;
    XSetForeground(m_display, gc, BlackPixel(m_display, DefaultScreen(m_display)));
    // Centred on the base line, as the Windows face is drawn.
    int width = 0;
    if (XFontStruct* font = XQueryFont(m_display, XGContextFromGC(gc))) {
        width = XTextWidth(font, kText, length);
        XFreeFontInfo(nullptr, font, 1);
    }
    const int x = saturated(static_cast<std::int64_t>(midpoint(pos.left, pos.right)) - width / 2);
    XDrawString(m_display, m_drawable, gc, x, midpoint(pos.top, pos.bottom), kText, length);
    XFreeGC(m_display, gc);
    XFlush(m_display);
}

} // namespace FB
