#pragma once
// Window events without input: timers, repaint requests and size changes.

#include "PluginEvent.h"

#include <cstdint>

namespace FB {

class TimerEvent : public PluginEvent {
public:
    TimerEvent(std::int32_t id, std::intptr_t opaque) : timerId(id), opaquePtr(opaque) {}
    std::int32_t timerId;     // the timer message's wParam
    std::intptr_t opaquePtr;  // its lParam (a timer procedure, if any)
};

class RefreshEvent : public PluginEvent {};
class ResizedEvent : public PluginEvent {};

} // namespace FB
