#pragma once
// FB::PluginEventSource: something that reports events (a plug-in window, a stream) to
// the sinks that observe it, in the order they were attached.
//
// One recursive mutex covers attaching, detaching and a whole delivery, so a handler may
// attach, detach or send further events on the same thread. Delivery walks a copy of the
// observer list: sinks attached or detached by a handler do not change the walk in
// progress, and a sink destroyed during the walk is skipped when its turn comes. A handler
// may also destroy the source itself (a window cleared from inside its own event): the walk
// then ends without touching it, and the mutex, which outlives the source for that, is
// released. Each call to a sink holds the sink itself, never only the caller's handle.
// Lives in the scripting layer, below the plug-in core: streams derive from it there, and
// the plug-in core's windows above.

#include "PluginEventSink.h"
#include "AttachedEvent.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace FB {

class PluginEventSource : public std::enable_shared_from_this<PluginEventSource> {
public:
    PluginEventSource() = default;
    virtual ~PluginEventSource() {
        std::lock_guard<std::recursive_mutex> lock(m_lifetime->observerMutex);
        m_lifetime->destroyed = true;
    }
    PluginEventSource(const PluginEventSource&) = delete;
    PluginEventSource& operator=(const PluginEventSource&) = delete;

    // Appends the sink and tells it with an AttachedEvent (its answer does not matter).
    virtual void attachObserver(const PluginEventSinkPtr& sink) {
        if (!sink)
            return;
        // The caller's handle may be the one the handler lets go of.
        const PluginEventSinkPtr held = sink;
        std::lock_guard<std::recursive_mutex> lock(m_observerMutex);
        m_observers.push_back(held);
        AttachedEvent attached;
        held->handleEvent(&attached, this);
    }

    // A sink must live in a shared handle to be observed: std::bad_weak_ptr otherwise.
    virtual void attachObserver(PluginEventSink* sink) {
        if (sink)
            attachObserver(sink->shared_from_this());
    }

    // Removes the sink and tells it with a DetachedEvent; entries of sinks that no longer
    // exist are dropped on the way. The entry goes first, so that whatever the handler does
    // to the list (attach, detach, send) works on a list that no longer holds it.
    virtual void detachObserver(const PluginEventSinkPtr& sink) {
        // The caller's handle may be the one the handler lets go of.
        const PluginEventSinkPtr held = sink;
        std::lock_guard<std::recursive_mutex> lock(m_observerMutex);
        int removed = 0;
        for (auto it = m_observers.begin(); it != m_observers.end();) {
            PluginEventSinkPtr entry = it->lock();
            if (!entry || (held && entry == held)) {
                removed += entry ? 1 : 0;
                it = m_observers.erase(it);
            } else {
                ++it;
            }
        }
        for (; removed > 0; --removed) {
            DetachedEvent detached;
            held->handleEvent(&detached, this);
        }
    }

    // A sink that is being destroyed can no longer be told; its entry is simply dropped.
    virtual void detachObserver(PluginEventSink* sink) {
        PluginEventSinkPtr held = sink ? sink->weak_from_this().lock() : nullptr;
        detachObserver(held);
    }

    // Offers the event to each observer in turn; true as soon as one handles it. An
    // exception from a handler leaves here, and the mutex with it.
    virtual bool sendEvent(PluginEvent* event) {
        const std::shared_ptr<Lifetime> lifetime = m_lifetime;
        std::lock_guard<std::recursive_mutex> lock(lifetime->observerMutex);
        const std::vector<PluginEventSinkWeakPtr> observers(m_observers);
        for (const PluginEventSinkWeakPtr& weak : observers) {
            if (PluginEventSinkPtr sink = weak.lock()) {
                const bool handled = sink->handleEvent(event, this);
                if (handled || lifetime->destroyed)
                    return handled;
            }
        }
        return false;
    }

protected:
    // What a delivery in progress needs after a handler has destroyed the source.
    struct Lifetime {
        std::recursive_mutex observerMutex;
        std::atomic<bool> destroyed{false};
    };
    std::shared_ptr<Lifetime> lifetime() const { return m_lifetime; }

    std::vector<PluginEventSinkWeakPtr> m_observers;

private:
    const std::shared_ptr<Lifetime> m_lifetime = std::make_shared<Lifetime>();

protected:
    std::recursive_mutex& m_observerMutex = m_lifetime->observerMutex;
};

} // namespace FB
