#include "BrowserStreamManager.h"

#include "BrowserStream.h"
#include "logging.h"

#include <exception>

namespace FB {

using Lock = std::lock_guard<std::recursive_mutex>;

BrowserStreamManager::BrowserStreamManager() = default;

BrowserStreamManager::~BrowserStreamManager() {
    std::set<BrowserStreamPtr> streams;
    {
        Lock lock(m_xtmutex);
        streams.swap(m_retainedStreams);
    }
    // Closing may report completion; the set is not walked while that happens.
    for (const BrowserStreamPtr& stream : streams) {
        try {
            stream->close();
        } catch (const std::exception& e) {
            FBLOG_WARN("BrowserStreamManager", "Closing " << stream->getUrl() << " failed: " << e.what());
        }
    }
}

bool BrowserStreamManager::handleEvent(PluginEvent* event, PluginEventSource* source) {
    auto* completed = dynamic_cast<StreamCompletedEvent*>(event);
    auto* stream = dynamic_cast<BrowserStream*>(source);
    if (completed && stream)
        onStreamCompleted(completed, stream);
    return false;
}

void BrowserStreamManager::onStreamCompleted(StreamCompletedEvent*, BrowserStream* stream) {
    releaseStream(stream);
}

void BrowserStreamManager::retainStream(const BrowserStreamPtr& stream) {
    if (!stream)
        return;
    // The stream's lock is never taken under the manager's: a completing stream calls
    // into the manager with its own lock held.
    stream->attachObserver(shared_from_this());
    Lock lock(m_xtmutex);
    m_retainedStreams.insert(stream);
}

void BrowserStreamManager::releaseStream(const BrowserStreamPtr& stream) {
    releaseStream(stream.get());
}

void BrowserStreamManager::releaseStream(BrowserStream* stream) {
    BrowserStreamPtr released;
    {
        Lock lock(m_xtmutex);
        for (auto it = m_retainedStreams.begin(); it != m_retainedStreams.end(); ++it) {
            if (it->get() == stream) {
                released = *it;
                m_retainedStreams.erase(it);
                break;
            }
        }
    }
    // The last reference may go here, outside the manager's lock.
    if (released)
        released->detachObserver(shared_from_this());
}

std::size_t BrowserStreamManager::retainedCount() const {
    Lock lock(m_xtmutex);
    return m_retainedStreams.size();
}

} // namespace FB
