#pragma once
// FB::PluginEvent: the base of every record a window or a stream hands to its observers.
// Records are built on the stack by their sender and passed by pointer; a receiver tells
// them apart by their dynamic type.

namespace FB {

class PluginEvent {
public:
    PluginEvent() = default;
    virtual ~PluginEvent() = default;
    PluginEvent(const PluginEvent&) = delete;
    PluginEvent& operator=(const PluginEvent&) = delete;

    // The record as T, or null when it is another kind of event.
    template <typename T>
    T* get() {
        return dynamic_cast<T*>(this);
    }
};

} // namespace FB
