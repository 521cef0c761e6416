#pragma once
// FB::Npapi::NpapiStream: a URL the plug-in asked the browser for (NPN_GetURLNotify), as a
// framework stream. The browser hands the stream back through the instance's stream
// entries (NPP_NewStream, NPP_WriteReady, NPP_Write, NPP_DestroyStream, NPP_StreamAsFile,
// NPP_URLNotify); NpapiPlugin finds the stream by its notify data and passes on what the
// browser reports, which the stream turns into events for its observers.
//
// Lifetime. The browser keeps the stream's address as notify data, so the stream keeps
// itself alive until the browser can no longer name it: until both NPP_DestroyStream and
// NPP_URLNotify arrived, or only NPP_URLNotify for a transfer the browser never started
// (a browser does not call NPP_DestroyStream for a stream whose NPP_NewStream failed). A
// host that shuts down lets go of every stream it made: its instance is gone, and with it
// every callback that could still name one.
//
// All of it runs on the browser's main thread.

#include "BrowserStream.h"
#include "NpapiTypes.h"
#include "npfunctions.h"

#include <cstdint>
#include <memory>
#include <string>

namespace FB { namespace Npapi {

class NpapiStream;
using NpapiStreamPtr = std::shared_ptr<NpapiStream>;

class NpapiStream : public BrowserStream {
public:
    NpapiStream(const std::string& url, bool cache, bool seekable, std::size_t internalBufferSize,
                const std::shared_ptr<const NpapiBrowserHost>& host);
    ~NpapiStream() override;

    // Asks the browser for the bytes of each range (start inclusive, end exclusive); only
    // on an open seekable stream. False for a range the browser cannot be asked for
    // (start after end, beyond 2^31) and when the browser refuses.
    bool readRanges(const RangeList& ranges) override;
    // NPN_Write on an open stream; true when the browser took every byte.
    bool write(const char* data, std::size_t dataLength, std::size_t& written) override;
    // Ends the transfer early. Observers of a stream that had not finished hear that it
    // completed without success; a stream not yet started by the browser is refused when
    // the browser starts it. False when there was no browser stream to end.
    bool close() override;

    // What NpapiPlugin reports from the browser.
    void setSelfReference(const NpapiStreamPtr& self) { m_self = self; }
    void setDestroyed();
    void setNotified();
    // Bytes taken: at most the internal buffer size.
    // Bytes taken: at most the internal buffer size; -1 for what no browser may send (a
    // negative length or offset, no data behind a length).
    std::int32_t signalDataArrived(const void* buffer, std::int32_t length, std::int32_t offset);
    // The end of the browser's transfer (success: it delivered everything).
    void signalCompleted(bool success);
    using BrowserStream::signalFailedOpen;
    using BrowserStream::signalOpened;
    // NPP_NewStream accepted the browser's stream: only such a stream gets NPP_DestroyStream.
    void setStarted() { m_started = true; }

    void setStreamPtr(NPStream* stream) { m_stream = stream; }
    NPStream* getStreamPtr() const { return m_stream; }
    std::shared_ptr<const NpapiBrowserHost> getHost() const { return m_host.lock(); }

    // The host is going away: the browser will not call for this stream any more.
    void abandon();

private:
    void releaseWhenUnreachable();

    NPStream* m_stream;
    std::weak_ptr<const NpapiBrowserHost> m_host;
    NpapiStreamPtr m_self;
    bool m_destroyed;
    bool m_notified;
    bool m_started;
    bool m_transferSucceeded;
};

}} // namespace FB::Npapi
