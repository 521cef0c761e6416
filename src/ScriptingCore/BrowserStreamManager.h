#pragma once
// FB::BrowserStreamManager: keeps the streams opened through a browser host alive until
// they complete; the host drops it on shutdown. So far it only holds them: observing the
// streams and closing what is left belong with the browser streams themselves.

#include "APITypes.h"

#include <mutex>
#include <set>

namespace FB {

class BrowserStreamManager {
public:
    BrowserStreamManager() = default;
    virtual ~BrowserStreamManager() = default;
    BrowserStreamManager(const BrowserStreamManager&) = delete;
    BrowserStreamManager& operator=(const BrowserStreamManager&) = delete;

    void retainStream(const BrowserStreamPtr& stream) {
        std::lock_guard<std::recursive_mutex> lock(m_xtmutex);
        m_retainedStreams.insert(stream);
    }
    void releaseStream(const BrowserStreamPtr& stream) {
        std::lock_guard<std::recursive_mutex> lock(m_xtmutex);
        m_retainedStreams.erase(stream);
    }

protected:
    std::set<BrowserStreamPtr> m_retainedStreams;
    std::recursive_mutex m_xtmutex;
};

} // namespace FB
