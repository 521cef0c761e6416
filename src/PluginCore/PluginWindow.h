#pragma once
// FB::PluginWindow: the drawing surface and input source of one plug-in instance. It is an
// event source: the plug-in object observes it and receives its input as event records.
// The adapters create windows through the factory, own them and delete them after the
// plug-in object has let go (ClearWindow).

#include "PluginEventSource.h"

#include <cstdint>

namespace FB {

struct Rect {
    std::int32_t top;
    std::int32_t left;
    std::int32_t bottom;
    std::int32_t right;
};

inline bool operator==(const Rect& a, const Rect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

class PluginWindow : public PluginEventSource {
public:
    PluginWindow() = default;
    ~PluginWindow() override = default;

    // Asks for the whole window to be painted again.
    virtual void invalidateWindow() = 0;
    virtual Rect getWindowPosition() const = 0;
    virtual std::int32_t getWindowWidth() const = 0;
    virtual std::int32_t getWindowHeight() const = 0;
    virtual Rect getWindowClipping() const = 0;
};

} // namespace FB
