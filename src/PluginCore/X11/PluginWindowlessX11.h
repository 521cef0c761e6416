#pragma once
// FB::PluginWindowlessX11: a windowless plug-in on Linux. Linux NPAPI browsers give a
// windowed plug-in no window at all; a windowless one gets the browser's drawable and the
// browser's X events, which the adapter passes to handleX11Event. They become the same
// event records as on Windows, so the plug-in object sees one event model everywhere.

#include "PluginWindowless.h"
#include "X11Types.h"

namespace FB {

struct WindowContextWindowless {
    WindowContextWindowless(Display* dpy, XDrawable drawable) : display(dpy), drawable(drawable) {}
    Display* display;    // may be null until the browser names one
    XDrawable drawable;  // may be 0 until the first expose brings one
};

class PluginWindowlessX11 : public PluginWindowless {
public:
    explicit PluginWindowlessX11(const WindowContextWindowless& ctx);
    ~PluginWindowlessX11() override;

    Display* getDisplay() const;
    XDrawable getDrawable() const;
    void setDrawable(Display* display, XDrawable drawable);
    // The browser's top-level window (NPNVnetscapeWindow).
    XDrawable getBrowserWindow() const;
    void setBrowserWindow(XDrawable window);

    // One X event from the browser: ButtonPress/Release, MotionNotify, KeyPress/Release and
    // GraphicsExpose become event records; other events are offered raw only. True when
    // the plug-in handled the event. Mouse coordinates are browser-window coordinates, as
    // on Windows; the window subtracts the plug-in's position.
    bool handleX11Event(const XEvent& event);

private:
    void drawDefaultFace();

    Display* m_display;
    XDrawable m_drawable;
    XDrawable m_browserWindow;
};

// An X keysym as the Windows virtual key of the same key (0 when there is none), so that
// both platforms share one table of framework key codes.
unsigned keysymToVirtualKey(unsigned long keysym);

} // namespace FB
