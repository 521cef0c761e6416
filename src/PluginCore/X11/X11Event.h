#pragma once
// A raw X event from the browser, offered to the plug-in before the windowless window
// turns it into an event record. A handler that consumed it returns true.

#include "PluginEvent.h"
#include "X11Types.h"

namespace FB {

class X11Event : public PluginEvent {
public:
    explicit X11Event(const XEvent& ev) : event(ev) {}
    const XEvent& event;
};

} // namespace FB
