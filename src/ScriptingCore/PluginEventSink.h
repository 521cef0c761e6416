#pragma once
// FB::PluginEventSink: an observer of windows and streams. Sinks live in shared handles;
// a source keeps them weakly, so an observer that goes away simply stops being called.

#include <memory>

namespace FB {

class PluginEvent;
class PluginEventSource;

class PluginEventSink : public std::enable_shared_from_this<PluginEventSink> {
public:
    PluginEventSink() = default;
    virtual ~PluginEventSink() = default;
    PluginEventSink(const PluginEventSink&) = delete;
    PluginEventSink& operator=(const PluginEventSink&) = delete;

    // True when the sink handled the event: the source then stops offering it to the
    // observers after this one.
    virtual bool handleEvent(PluginEvent* event, PluginEventSource* source) = 0;
};

using PluginEventSinkPtr = std::shared_ptr<PluginEventSink>;
using PluginEventSinkWeakPtr = std::weak_ptr<PluginEventSink>;

} // namespace FB
