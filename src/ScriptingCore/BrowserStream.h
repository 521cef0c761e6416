#pragma once
// FB::BrowserStream: a download (or upload) the browser performs for the plug-in. This
// class records the stream's properties and reports its progress to observers; the
// adapters derive their streams from it and supply reading, writing and closing, and
// report what the browser tells them through the signal operations below.
//
// Observers are isolated from each other: one that throws is logged and skipped, so it
// can neither keep the others (the host's stream manager among them) from hearing that
// the stream completed nor carry its exception into the browser's callbacks.

#include "BrowserStreamEvents.h"
#include "PluginEventSource.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace FB {

class BrowserStream : public PluginEventSource {
public:
    struct Range {
        Range(std::size_t s, std::size_t e) : start(s), end(e) {}
        std::size_t start;
        std::size_t end;
    };
    using RangeList = std::vector<Range>;

    BrowserStream(const std::string& url, bool cache, bool seekable, std::size_t internalBufferSize);
    // Tells the observers with a StreamDestroyedEvent unless the stream class already did.
    ~BrowserStream() override;

    bool sendEvent(PluginEvent* event) override;

    virtual bool readRange(std::size_t start, std::size_t end);
    virtual bool readRanges(const RangeList& ranges) = 0;
    virtual bool write(const char* data, std::size_t dataLength, std::size_t& written) = 0;
    virtual bool close() = 0;

    virtual std::string getUrl() const { return m_url; }
    virtual bool isSeekAvailable() const { return m_seekAvailable; }
    virtual bool isSeekRequested() const { return m_seekRequested; }
    virtual bool isSeekable() const { return m_seekRequested && m_seekAvailable; }
    virtual bool isCacheRequested() const { return m_cacheRequested; }
    virtual bool isCompleted() const { return m_completed; }
    virtual bool isOpen() const { return m_opened; }
    virtual std::string getMimeType() const { return m_mimeType; }
    virtual std::wstring getCacheFilename() const { return m_cacheFilename; }
    virtual std::string getHeaders() const { return m_headers; }
    virtual std::uint32_t getInternalBufferSize() const { return m_internalBufferSize; }
    virtual std::uint32_t getLength() const { return m_length; }

    virtual void setUrl(const std::string& url) { m_url = url; }
    virtual void setSeekAvailable(bool available) { m_seekAvailable = available; }
    virtual void setCacheRequested(bool cache) { m_cacheRequested = cache; }
    virtual void setCompleted(bool completed) { m_completed = completed; }
    virtual void setOpen(bool open) { m_opened = open; }
    virtual void setMimeType(const std::string& mimeType) { m_mimeType = mimeType; }
    virtual void setCacheFilename(const std::wstring& name) { m_cacheFilename = name; }
    virtual void setHeaders(const std::string& headers) { m_headers = headers; }
    virtual void setInternalBufferSize(std::uint32_t size) { m_internalBufferSize = size; }
    virtual void setLength(std::uint32_t length) { m_length = length; }

protected:
    // Tells the observers with a StreamDestroyedEvent, once. Each stream class calls it in
    // its destructor while the stream is still whole, since an observer may still use the
    // stream (close it above all); from the base destructor only this part would be left.
    void sendDestroyedEvent();

    // The browser's reports, in the order the browser makes them.
    void signalOpened();
    // `length` bytes at `offset` of the resource; the observers see at most the internal
    // buffer size of them, and only while the stream is open.
    void signalDataArrived(const void* data, std::size_t length, std::size_t offset);
    // The end of a transfer. A seekable stream that finished well stays open for more
    // ranges; otherwise the stream completes once: it is closed and the observers told.
    void signalCompleted(bool success);
    void signalFailedOpen();

private:
    std::string m_url;
    bool m_seekRequested;
    bool m_seekAvailable;
    bool m_cacheRequested;
    std::uint32_t m_internalBufferSize;
    std::wstring m_cacheFilename;
    std::uint32_t m_length;
    std::string m_mimeType;
    bool m_completed;
    bool m_opened;
    std::string m_headers;
    bool m_destroyedSent = false;
};

} // namespace FB
