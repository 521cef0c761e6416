#pragma once
// FB::BrowserStreamManager: keeps the streams opened through a browser host alive until
// they complete, and closes those still open when it goes away (the host drops it on
// shutdown).

#include "APITypes.h"
#include "PluginEventSink.h"

#include <mutex>
#include <set>

namespace FB {

class StreamCompletedEvent;

class BrowserStreamManager : public PluginEventSink {
public:
    BrowserStreamManager();
    ~BrowserStreamManager() override;

    bool handleEvent(PluginEvent* event, PluginEventSource* source) override;
    virtual void onStreamCompleted(StreamCompletedEvent* event, BrowserStream* stream);

    // The manager must live in a shared handle: it observes the streams it keeps.
    void retainStream(const BrowserStreamPtr& stream);
    void releaseStream(const BrowserStreamPtr& stream);
    std::size_t retainedCount() const;

protected:
    void releaseStream(BrowserStream* stream);

    std::set<BrowserStreamPtr> m_retainedStreams;
    mutable std::recursive_mutex m_xtmutex;
};

} // namespace FB
