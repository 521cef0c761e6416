#include "ActiveXStream.h"

#include "PluginWinModule.h"
#include "logging.h"
#include "utf8_tools.h"

#include <wininet.h>

#include <cstdlib>
#include <cstring>
#include <exception>

namespace FB {
namespace ActiveX {

BrowserStreamPtr ActiveXStream::create(const std::string& url, const PluginEventSinkPtr& callback, bool cache,
                                       bool seekable, size_t internalBufferSize) {
    auto stream = std::make_shared<ActiveXStream>(url, cache, seekable, internalBufferSize);
    if (callback)
        stream->attachObserver(callback);
    if (!stream->init())
        return BrowserStreamPtr();
    StreamCreatedEvent created(stream.get());
    stream->sendEvent(&created);
    if (stream->isSeekRequested())
        stream->signalOpened();
    return stream;
}

ActiveXStream::ActiveXStream(const std::string& url, bool cache, bool seekable, size_t internalBufferSize)
    : BrowserStream(url, cache, seekable, internalBufferSize) {}

ActiveXStream::~ActiveXStream() {
    for (const ActiveXStreamRequestPtr& request : m_requests)
        request->stop();
    sendDestroyedEvent();
}

bool ActiveXStream::init() {
    // A seekable stream waits for its ranges.
    if (isSeekRequested())
        return true;
    return startRequest(std::make_shared<ActiveXStreamRequest>(self(), RangeList()));
}

bool ActiveXStream::startRequest(const ActiveXStreamRequestPtr& request) {
    if (!request->start())
        return false;
    m_requests.insert(request);
    return true;
}

bool ActiveXStream::readRanges(const RangeList& ranges) {
    if (!isSeekRequested() || !isOpen())
        return false;
    if (ranges.empty())
        return true;
    for (const Range& range : ranges)
        if (range.end <= range.start)
            return false;
    startRequest(std::make_shared<ActiveXStreamRequest>(self(), ranges));
    return true;
}

bool ActiveXStream::write(const char*, size_t, size_t& written) {
    written = 0;
    return false;
}

bool ActiveXStream::close() {
    if (m_closing)
        return true;
    m_closing = true;
    // A stream closed before its response still has bindings under way: they are stopped
    // too, and whatever they report from now on is dropped.
    const bool wasOpen = isOpen();
    setOpen(false);
    bool stopped = wasOpen;
    // The set is emptied first: a stopped binding reports its end into it.
    std::set<ActiveXStreamRequestPtr> running;
    running.swap(m_requests);
    for (const ActiveXStreamRequestPtr& request : running)
        stopped = request->stop() && stopped;
    return stopped;
}

size_t ActiveXStream::signalDataArrived(const void* data, size_t length, size_t offset) {
    if (length == 0)
        return 0;
    if (m_closing)
        return length;
    const unsigned total = getLength();
    const float progress = total ? static_cast<float>(static_cast<double>(static_cast<unsigned>(offset + length)) /
                                                      static_cast<double>(total) * 100.0)
                                 : 0.0f;
    if (isOpen() || !getCacheFilename().empty()) {
        StreamDataArrivedEvent arrived(this, data, static_cast<std::uint32_t>(length),
                                       static_cast<std::uint32_t>(offset), progress);
        sendEvent(&arrived);
    }
    return length;
}

void ActiveXStream::signalOpened() {
    if (m_closing)
        return;
    setOpen(true);
    StreamOpenedEvent opened(this);
    sendEvent(&opened);
}

void ActiveXStream::signalFailedOpen() {
    // The response and the end of its binding may both report it; observers hear it once.
    if (m_failedOpenSent)
        return;
    m_failedOpenSent = true;
    StreamFailedOpenEvent failed(this);
    sendEvent(&failed);
}

void ActiveXStream::signalCompleted(bool success) {
    std::shared_ptr<PluginEventSource> keepAlive = shared_from_this();
    setCompleted(true);
    if (!isOpen() && !success)
        signalFailedOpen();
    close();
    StreamCompletedEvent completed(this, success);
    sendEvent(&completed);
}

void ActiveXStream::signalRequestCompleted(const ActiveXStreamRequestPtr& request, bool success) {
    std::shared_ptr<PluginEventSource> keepAlive = shared_from_this();
    m_requests.erase(request);
    if (m_requests.empty()) {
        signalCompleted(success);
        close();
    }
}

ActiveXStreamRequest::ActiveXStreamRequest(const std::shared_ptr<ActiveXStream>& s,
                                           const BrowserStream::RangeList& r)
    : stream(s), ranges(r) {}

ActiveXStreamRequest::~ActiveXStreamRequest() {
    if (dataStream)
        dataStream->Release();
    if (bindCtx) {
        if (callback)
            RevokeBindStatusCallback(bindCtx, callback);
        bindCtx->Release();
    }
    if (moniker)
        moniker->Release();
    if (callback)
        callback->Release();
}

bool ActiveXStreamRequest::start() {
    std::wstring url;
    try {
        url = utf8_to_wstring(stream->getUrl());
    } catch (const std::exception&) {
        return false;
    }
    callback = new ActiveXBindStatusCallback(shared_from_this());
    if (FAILED(CreateURLMoniker(nullptr, url.c_str(), &moniker)) || !moniker)
        return false;
    if (FAILED(CreateAsyncBindCtx(0, callback, nullptr, &bindCtx)) || !bindCtx)
        return false;
    if (FAILED(IsValidURL(bindCtx, url.c_str(), 0)))
        return false;
    HRESULT hr = moniker->BindToStorage(bindCtx, nullptr, IID_IStream, reinterpret_cast<void**>(&dataStream));
    return SUCCEEDED(hr) || hr == MK_S_ASYNCHRONOUS;
}

bool ActiveXStreamRequest::stop() {
    IBinding* binding = callback ? callback->binding() : nullptr;
    if (!binding)
        return true;
    return SUCCEEDED(binding->Abort());
}

ActiveXBindStatusCallback::ActiveXBindStatusCallback(const ActiveXStreamRequestPtr& request) : m_request(request) {
    // urlmon holds this object while the download runs: the module must stay loaded.
    pluginWinModule().lock();
}

ActiveXBindStatusCallback::~ActiveXBindStatusCallback() {
    if (m_binding)
        m_binding->Release();
    if (m_stream)
        m_stream->Release();
    pluginWinModule().unlock();
}

namespace {

bool closing(const ActiveXStreamRequestPtr& request) { return request && request->stream->isClosing(); }

} // namespace

HRESULT ActiveXBindStatusCallback::QueryInterface(REFIID iid, void** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback))
        *out = static_cast<IBindStatusCallback*>(this);
    else if (IsEqualIID(iid, IID_IHttpNegotiate))
        *out = static_cast<IHttpNegotiate*>(this);
    if (!*out)
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG ActiveXBindStatusCallback::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG ActiveXBindStatusCallback::Release() {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0)
        delete this;
    return static_cast<ULONG>(refs);
}

HRESULT ActiveXBindStatusCallback::OnStartBinding(DWORD, IBinding* binding) {
    if (binding)
        binding->AddRef();
    if (m_binding)
        m_binding->Release();
    m_binding = binding;
    // Closed before urlmon got this far: the binding is stopped as soon as it exists.
    if (m_binding && closing(m_request.lock()))
        m_binding->Abort();
    return S_OK;
}

HRESULT ActiveXBindStatusCallback::GetPriority(LONG*) { return E_NOTIMPL; }

HRESULT ActiveXBindStatusCallback::OnLowResource(DWORD) { return S_OK; }

HRESULT ActiveXBindStatusCallback::OnProgress(ULONG, ULONG, ULONG status, LPCWSTR text) {
    if (closing(m_request.lock()))
        return E_ABORT;
    if (status == BINDSTATUS_REDIRECTING) {
        m_redirected = true;
    } else if (status == BINDSTATUS_CACHEFILENAMEAVAILABLE && text) {
        if (ActiveXStreamRequestPtr request = m_request.lock())
            request->stream->signalCacheFilename(text);
    }
    return S_OK;
}

HRESULT ActiveXBindStatusCallback::OnStopBinding(HRESULT result, LPCWSTR) {
    if (ActiveXStreamRequestPtr request = m_request.lock()) {
        std::shared_ptr<ActiveXStream> stream = request->stream;
        // urlmon ends an HTTP error response's binding with success; it is no success here.
        stream->signalRequestCompleted(request, SUCCEEDED(result) && !m_refusedResponse);
    }
    if (m_binding) {
        m_binding->Release();
        m_binding = nullptr;
    }
    return S_OK;
}

HRESULT ActiveXBindStatusCallback::GetBindInfo(DWORD* flags, BINDINFO* info) {
    if (!flags || !info)
        return E_POINTER;
    ActiveXStreamRequestPtr request = m_request.lock();
    *flags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA;
    if (request && request->stream->isCacheRequested())
        *flags |= BINDF_NEEDFILE;
    else
        *flags |= BINDF_GETNEWESTVERSION | BINDF_NOWRITECACHE | BINDF_PRAGMA_NO_CACHE;
    const ULONG given = info->cbSize;
    std::memset(info, 0, given < sizeof(BINDINFO) ? given : sizeof(BINDINFO));
    info->cbSize = sizeof(BINDINFO);
    info->dwBindVerb = request ? request->verb : static_cast<DWORD>(BINDVERB_GET);
    return S_OK;
}

HRESULT ActiveXBindStatusCallback::OnDataAvailable(DWORD, DWORD size, FORMATETC*, STGMEDIUM* medium) {
    ActiveXStreamRequestPtr request = m_request.lock();
    if (!request)
        return S_OK;
    if (closing(request))
        return E_ABORT;
    if (!m_stream && medium && medium->tymed == TYMED_ISTREAM && medium->pstm) {
        m_stream = medium->pstm;
        m_stream->AddRef();
    }
    if (!m_stream || size <= m_delivered)
        return S_OK;
    std::shared_ptr<ActiveXStream> stream = request->stream;
    char buffer[16384];
    if (m_parts) {
        // Several ranges: the body is their parts, each with its own offset.
        for (;;) {
            ULONG got = 0;
            HRESULT hr = m_stream->Read(buffer, sizeof buffer, &got);
            if (got > 0) {
                m_delivered += got;
                m_parts->feed(buffer, got, [&stream](const char* data, std::size_t length, std::size_t offset) {
                    stream->signalDataArrived(data, length, offset);
                });
            }
            if (FAILED(hr) || hr == S_FALSE || got == 0 || stream->isClosing())
                break;
        }
        return S_OK;
    }
    size_t offset = 0;
    const std::string range = httpInfo(HTTP_QUERY_CONTENT_RANGE);
    if (!range.empty()) {
        // "bytes START-END/TOTAL": the start of the part this response carries.
        const std::string::size_type dash = range.find('-');
        if (range.size() > 6 && dash != std::string::npos && dash > 6)
            offset = std::strtoul(range.substr(6, dash - 6).c_str(), nullptr, 10);
    }
    for (;;) {
        ULONG got = 0;
        HRESULT hr = m_stream->Read(buffer, sizeof buffer, &got);
        if (got > 0) {
            stream->signalDataArrived(buffer, got, offset + m_delivered);
            m_delivered += got;
        }
        if (FAILED(hr) || hr == S_FALSE || got == 0)
            break;
    }
    return S_OK;
}

HRESULT ActiveXBindStatusCallback::OnObjectAvailable(REFIID, IUnknown*) { return S_OK; }

HRESULT ActiveXBindStatusCallback::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD, LPWSTR* additional) {
    if (!additional)
        return E_POINTER;
    *additional = nullptr;
    std::wstring headers = L"Accept-Encoding: identity\r\n";
    ActiveXStreamRequestPtr request = m_request.lock();
    if (request && !request->ranges.empty()) {
        headers += L"Range: bytes=";
        for (size_t i = 0; i < request->ranges.size(); ++i) {
            const BrowserStream::Range& range = request->ranges[i];
            headers += (i ? L"," : L"") + std::to_wstring(range.start) + L"-" + std::to_wstring(range.end - 1);
        }
        headers += L"\r\n";
    }
    const size_t bytes = (headers.size() + 1) * sizeof(wchar_t);
    *additional = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (!*additional)
        return E_OUTOFMEMORY;
    std::memcpy(*additional, headers.c_str(), bytes);
    return S_OK;
}

std::string ActiveXBindStatusCallback::httpInfo(DWORD query) const {
    if (!m_binding)
        return std::string();
    IWinInetHttpInfo* info = nullptr;
    if (FAILED(m_binding->QueryInterface(IID_IWinInetHttpInfo, reinterpret_cast<void**>(&info))) || !info)
        return std::string();
    char buffer[1024] = {};
    DWORD size = sizeof buffer - 1;
    HRESULT hr = info->QueryInfo(query, buffer, &size, nullptr, nullptr);
    info->Release();
    if (FAILED(hr) || hr == S_FALSE || size >= sizeof buffer)
        return std::string();
    return std::string(buffer, size);
}

HRESULT ActiveXBindStatusCallback::OnResponse(DWORD code, LPCWSTR responseHeaders, LPCWSTR, LPWSTR* additional) {
    if (!additional)
        return E_POINTER;
    *additional = nullptr;
    ActiveXStreamRequestPtr request = m_request.lock();
    if (!request)
        return S_OK;
    if (closing(request))
        return E_ABORT;
    std::shared_ptr<ActiveXStream> stream = request->stream;
    try {
        stream->setHeaders(responseHeaders ? wstring_to_utf8(responseHeaders) : std::string());
    } catch (const std::exception&) {
        stream->setHeaders(std::string());
    }
    const std::string length = httpInfo(HTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty())
        stream->setLength(static_cast<std::uint32_t>(std::strtoul(length.c_str(), nullptr, 10)));
    const std::string type = httpInfo(HTTP_QUERY_CONTENT_TYPE);
    if (!type.empty())
        stream->setMimeType(type);
    if (!request->ranges.empty() && code == 206) {
        const std::string boundary = ByteRangeParts::boundaryOf(type);
        if (!boundary.empty())
            m_parts.reset(new ByteRangeParts(boundary));
    }
    stream->setSeekAvailable(httpInfo(HTTP_QUERY_ACCEPT_RANGES) == "bytes");
    const bool good = code >= 200 && code <= 299 && (!stream->isSeekRequested() || stream->isSeekAvailable());
    m_refusedResponse = !good;
    if (good) {
        if (!stream->isOpen())
            stream->signalOpened();
    } else {
        stream->signalFailedOpen();
    }
    return S_OK;
}

} // namespace ActiveX
} // namespace FB
