#include "BrowserStream.h"

#include "logging.h"

#include <algorithm>
#include <exception>
#include <memory>

namespace FB {

BrowserStream::BrowserStream(const std::string& url, bool cache, bool seekable, std::size_t internalBufferSize)
    : m_url(url), m_seekRequested(seekable), m_seekAvailable(false), m_cacheRequested(cache),
      m_internalBufferSize(static_cast<std::uint32_t>(internalBufferSize)), m_length(0), m_completed(false),
      m_opened(false) {}

BrowserStream::~BrowserStream() {
    sendDestroyedEvent();
}

void BrowserStream::sendDestroyedEvent() {
    if (m_destroyedSent)
        return;
    m_destroyedSent = true;
    StreamDestroyedEvent destroyed(this);
    sendEvent(&destroyed);
}

bool BrowserStream::sendEvent(PluginEvent* event) {
    // An observer may drop the last reference to this stream (the manager releases a
    // completed one): the stream outlives the delivery. Declared before the lock, so the
    // lock is released first.
    std::shared_ptr<PluginEventSource> keepAlive = weak_from_this().lock();
    const std::shared_ptr<Lifetime> life = lifetime();
    std::lock_guard<std::recursive_mutex> lock(life->observerMutex);
    const std::vector<PluginEventSinkWeakPtr> observers(m_observers);
    for (const PluginEventSinkWeakPtr& weak : observers) {
        PluginEventSinkPtr sink = weak.lock();
        if (!sink)
            continue;
        if (life->destroyed)
            return false;
        try {
            if (sink->handleEvent(event, this))
                return true;
        } catch (const std::exception& e) {
            FBLOG_WARN("BrowserStream", "An observer of " << m_url << " failed: " << e.what());
        } catch (...) {
            FBLOG_WARN("BrowserStream", "An observer of " << m_url << " failed");
        }
    }
    return false;
}

bool BrowserStream::readRange(std::size_t start, std::size_t end) {
    return readRanges(RangeList{Range(start, end)});
}

void BrowserStream::signalOpened() {
    setOpen(true);
    StreamOpenedEvent opened(this);
    sendEvent(&opened);
}

void BrowserStream::signalDataArrived(const void* data, std::size_t length, std::size_t offset) {
    const std::uint32_t chunk =
        static_cast<std::uint32_t>(std::min<std::size_t>(length, getInternalBufferSize()));
    if (chunk == 0)
        return;
    const std::uint32_t total = getLength();
    const float progress =
        total ? static_cast<float>(static_cast<double>(offset + length) / static_cast<double>(total) * 100.0) : 0.0f;
    if (!isOpen())
        return;
    StreamDataArrivedEvent arrived(this, data, chunk, static_cast<std::uint32_t>(offset), progress);
    sendEvent(&arrived);
}

void BrowserStream::signalCompleted(bool success) {
    if ((isSeekable() && success) || isCompleted())
        return;
    setCompleted(true);
    close();
    StreamCompletedEvent completed(this, success);
    sendEvent(&completed);
}

void BrowserStream::signalFailedOpen() {
    StreamFailedOpenEvent failed(this);
    sendEvent(&failed);
}

} // namespace FB
