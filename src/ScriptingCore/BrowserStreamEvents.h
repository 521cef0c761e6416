#pragma once
// What a browser stream tells its observers. Each event names the stream it concerns.

#include "PluginEvent.h"

#include <cstddef>
#include <cstdint>

namespace FB {

class BrowserStream;

class StreamEvent : public PluginEvent {
public:
    explicit StreamEvent(BrowserStream* s) : stream(s) {}
    BrowserStream* stream;
};

class StreamCreatedEvent : public StreamEvent {
public:
    using StreamEvent::StreamEvent;
};

class StreamOpenedEvent : public StreamEvent {
public:
    using StreamEvent::StreamEvent;
};

class StreamDataArrivedEvent : public StreamEvent {
public:
    StreamDataArrivedEvent(BrowserStream* s, const void* d, std::uint32_t len, std::uint32_t off, float prog)
        : StreamEvent(s), data(d), length(len), dataPosition(off), progress(prog) {}
    const void* data;
    std::uint32_t length;        // at most the stream's internal buffer size
    std::uint32_t dataPosition;  // offset of the chunk in the resource
    float progress;              // percent; 0 when the total length is unknown
};

class StreamFailedOpenEvent : public StreamEvent {
public:
    using StreamEvent::StreamEvent;
};

class StreamCompletedEvent : public StreamEvent {
public:
    StreamCompletedEvent(BrowserStream* s, bool succeeded) : StreamEvent(s), success(succeeded) {}
    bool success;
};

class StreamDestroyedEvent : public StreamEvent {
public:
    using StreamEvent::StreamEvent;
};

} // namespace FB
