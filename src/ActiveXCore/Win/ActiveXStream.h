#pragma once
// FB::ActiveX::ActiveXStream: a download the plug-in starts itself through URL monikers.
// A stream runs one binding for the whole resource, or, when seekable, one binding per
// readRanges call with a Range header; each binding reports to its own bind-status
// callback on the main thread, and the stream turns those reports into stream events.

#include "APITypes.h"
#include "BrowserStream.h"
#include "ByteRangeParts.h"

#include <windows.h>
#include <urlmon.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace FB {
namespace ActiveX {

class ActiveXStreamRequest;
class ActiveXBindStatusCallback;
using ActiveXStreamRequestPtr = std::shared_ptr<ActiveXStreamRequest>;

class ActiveXStream : public BrowserStream {
public:
    // What the host's _createStream does: the stream with the sink observing it, started;
    // null when no binding could be started.
    static BrowserStreamPtr create(const std::string& url, const PluginEventSinkPtr& callback, bool cache,
                                   bool seekable, size_t internalBufferSize);

    ActiveXStream(const std::string& url, bool cache, bool seekable, size_t internalBufferSize);
    ~ActiveXStream() override;

    bool readRanges(const RangeList& ranges) override;
    // Uploads are not supported.
    bool write(const char* data, size_t dataLength, size_t& written) override;
    bool close() override;

    virtual bool init();
    virtual bool startRequest(const ActiveXStreamRequestPtr& request);
    // The whole chunk goes to the observers; the result is the length taken.
    virtual size_t signalDataArrived(const void* data, size_t length, size_t offset);
    virtual void signalOpened();
    virtual void signalFailedOpen();
    virtual void signalCompleted(bool success);
    virtual void signalRequestCompleted(const ActiveXStreamRequestPtr& request, bool success);
    virtual void signalCacheFilename(const std::wstring& name) { setCacheFilename(name); }

    // Closed by the plug-in: its bindings are being stopped and report nothing more.
    bool isClosing() const { return m_closing; }

private:
    std::shared_ptr<ActiveXStream> self() { return std::static_pointer_cast<ActiveXStream>(shared_from_this()); }

    std::set<ActiveXStreamRequestPtr> m_requests;
    bool m_closing = false;
    bool m_failedOpenSent = false;
};

class ActiveXStreamRequest : public std::enable_shared_from_this<ActiveXStreamRequest> {
public:
    ActiveXStreamRequest(const std::shared_ptr<ActiveXStream>& stream, const BrowserStream::RangeList& ranges);
    ~ActiveXStreamRequest();
    ActiveXStreamRequest(const ActiveXStreamRequest&) = delete;
    ActiveXStreamRequest& operator=(const ActiveXStreamRequest&) = delete;

    // Starts the binding; false when any step fails.
    bool start();
    // Aborts a running binding; true when there was nothing to stop or it stopped.
    bool stop();

    std::shared_ptr<ActiveXStream> stream;
    BrowserStream::RangeList ranges;  // empty: the whole resource
    IMoniker* moniker = nullptr;
    IBindCtx* bindCtx = nullptr;
    ActiveXBindStatusCallback* callback = nullptr;
    IStream* dataStream = nullptr;
    DWORD verb = static_cast<DWORD>(BINDVERB_GET);
};

class ActiveXBindStatusCallback : public IBindStatusCallback, public IHttpNegotiate {
public:
    explicit ActiveXBindStatusCallback(const ActiveXStreamRequestPtr& request);
    virtual ~ActiveXBindStatusCallback();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IBindStatusCallback
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG status, LPCWSTR text) override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* flags, BINDINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID iid, IUnknown* object) override;
    // IHttpNegotiate
    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                                   LPWSTR* additional) override;
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD code, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                                         LPWSTR* additional) override;

    IBinding* binding() const { return m_binding; }

private:
    std::string httpInfo(DWORD query) const;

    volatile LONG m_refs = 1;
    std::weak_ptr<ActiveXStreamRequest> m_request;
    IBinding* m_binding = nullptr;
    bool m_redirected = false;
    bool m_refusedResponse = false;
    IStream* m_stream = nullptr;
    size_t m_delivered = 0;
    // Set when the answer is multipart/byteranges: its parts go out at their own offsets.
    std::unique_ptr<ByteRangeParts> m_parts;
};

} // namespace ActiveX
} // namespace FB
