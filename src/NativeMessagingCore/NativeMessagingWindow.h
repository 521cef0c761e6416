#pragma once
// The plug-in window of a native messaging connection. The page is drawn by a browser in
// another process, so there is nothing to paint and no input here; the window exists so
// that the plug-in object is attached (and so loads what it needs while it has a window)
// for the life of the connection, exactly as in a browser that embeds it.

#include "PluginWindow.h"

namespace FB { namespace NativeMessaging {

class NativeMessagingWindow : public PluginWindow {
public:
    void invalidateWindow() override {}
    Rect getWindowPosition() const override { return Rect{0, 0, 0, 0}; }
    std::int32_t getWindowWidth() const override { return 0; }
    std::int32_t getWindowHeight() const override { return 0; }
    Rect getWindowClipping() const override { return Rect{0, 0, 0, 0}; }
};

}} // namespace FB::NativeMessaging
