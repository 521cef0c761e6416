#include "NpapiStream.h"

#include "NpapiBrowserHost.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace FB { namespace Npapi {

NpapiStream::NpapiStream(const std::string& url, bool cache, bool seekable, std::size_t internalBufferSize,
                         const std::shared_ptr<const NpapiBrowserHost>& host)
    : BrowserStream(url, cache, seekable, internalBufferSize),
      m_stream(nullptr),
      m_host(host),
      m_destroyed(false),
      m_notified(false),
      m_started(false),
      m_transferSucceeded(false) {}

NpapiStream::~NpapiStream() {
    close();
    sendDestroyedEvent();
    m_self.reset();
    m_host.reset();
}

bool NpapiStream::readRanges(const RangeList& ranges) {
    if (!m_stream || !isSeekable() || !isOpen())
        return false;
    if (ranges.empty())
        return true;
    std::vector<NPByteRange> chain(ranges.size());
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        const Range& range = ranges[i];
        if (range.start > range.end || range.start > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) ||
            range.end - range.start > std::numeric_limits<uint32_t>::max())
            return false;
        chain[i].offset = static_cast<int32_t>(range.start);
        chain[i].length = static_cast<uint32_t>(range.end - range.start);
        chain[i].next = i + 1 < chain.size() ? &chain[i + 1] : nullptr;
    }
    std::shared_ptr<const NpapiBrowserHost> host = getHost();
    return host && host->RequestRead(m_stream, chain.data()) == NPERR_NO_ERROR;
}

bool NpapiStream::write(const char* data, std::size_t dataLength, std::size_t& written) {
    written = 0;
    if (!m_stream || !isOpen() || dataLength > static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
        return false;
    std::shared_ptr<const NpapiBrowserHost> host = getHost();
    if (!host)
        return false;
    const int32_t wrote =
        host->Write(m_stream, static_cast<int32_t>(dataLength), const_cast<char*>(data));
    written = wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    return wrote >= 0 && static_cast<std::size_t>(wrote) == dataLength;
}

bool NpapiStream::close() {
    // An observer told below, or the browser called back from inside NPN_DestroyStream,
    // may let go of the last other handle to this stream.
    std::shared_ptr<PluginEventSource> keepAlive = weak_from_this().lock();
    if (!isCompleted()) {
        // Ended before the browser finished: only a seekable stream whose transfer went
        // through has all its data. Told once; the browser's own end then adds nothing.
        setCompleted(true);
        setOpen(false);
        StreamCompletedEvent completed(this, isSeekable() && m_transferSucceeded);
        sendEvent(&completed);
    }
    setOpen(false);
    NPStream* stream = m_stream;
    if (!stream)
        return false;
    std::shared_ptr<const NpapiBrowserHost> host = getHost();
    const NPError result = host ? host->DestroyStream(stream, NPRES_USER_BREAK) : NPError(NPERR_GENERIC_ERROR);
    // The browser answers with NPP_DestroyStream (at once or later), which finds no
    // browser stream here any more.
    m_stream = nullptr;
    return result == NPERR_NO_ERROR;
}

void NpapiStream::setDestroyed() {
    m_destroyed = true;
    releaseWhenUnreachable();
}

void NpapiStream::setNotified() {
    m_notified = true;
    releaseWhenUnreachable();
}

void NpapiStream::releaseWhenUnreachable() {
    if (m_notified && (m_destroyed || !m_started)) {
        // The caller holds a handle of its own: this stream outlives the call.
        NpapiStreamPtr self = std::move(m_self);
        m_self.reset();
    }
}

int32_t NpapiStream::signalDataArrived(const void* buffer, int32_t length, int32_t offset) {
    if (length < 0 || offset < 0 || (length > 0 && !buffer))
        return -1;
    const int32_t taken = static_cast<int32_t>(
        std::min<std::size_t>(static_cast<std::size_t>(length), getInternalBufferSize()));
    BrowserStream::signalDataArrived(buffer, static_cast<std::size_t>(length), static_cast<std::size_t>(offset));
    return taken;
}

void NpapiStream::signalCompleted(bool success) {
    if (success)
        m_transferSucceeded = true;
    BrowserStream::signalCompleted(success);
}

void NpapiStream::abandon() {
    m_stream = nullptr;
    m_self.reset();
}

}} // namespace FB::Npapi
