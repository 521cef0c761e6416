#include "BrowserHost.h"

#include "BrowserStream.h"
#include "BrowserStreamManager.h"
#include "DOMDocument.h"
#include "DOMElement.h"
#include "DOMWindow.h"
#include "JSObject.h"
#include "logging.h"
#include "utf8_tools.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iterator>

namespace FB {

struct BrowserHost::HtmlLogRequest {
    HtmlLogRequest(const BrowserHostPtr& h, const std::string& m) : host(h), msg(m) {}
    BrowserHostPtr host;
    std::string msg;
};

BrowserHost::BrowserHost()
    : m_callManager(std::make_shared<AsyncCallManager>()), m_threadId(std::this_thread::get_id()),
      m_isShutDown(false), m_shutdownStarted(false), m_streamManager(std::make_shared<BrowserStreamManager>()) {}

BrowserHost::~BrowserHost() = default;

BrowserStreamPtr BrowserHost::createStream(const std::string& url, const PluginEventSinkPtr& callback, bool cache,
                                           bool seekable, size_t internalBufferSize) const {
    BrowserStreamPtr stream = _createStream(url, callback, cache, seekable, internalBufferSize);
    // A stream that already ended while it was requested has nothing left to keep.
    if (stream && m_streamManager && !stream->isCompleted())
        m_streamManager->retainStream(stream);
    return stream;
}

void BrowserHost::evaluateJavaScript(const std::wstring& script) {
    evaluateJavaScript(wstring_to_utf8(script));
}

void BrowserHost::htmlLog(const std::string& str) {
    FBLOG_INFO("BrowserHost", "Logging to HTML: " << str);
    try {
        if (isShutDown())
            return;
        auto request = std::make_unique<HtmlLogRequest>(shared_from_this(), str);
        if (ScheduleAsyncCall(&BrowserHost::AsyncHtmlLog, request.get()))
            request.release();  // AsyncHtmlLog frees it
    } catch (const std::exception&) {
        // Logging never fails the caller.
    }
}

void BrowserHost::AsyncHtmlLog(void* logReq) {
    std::unique_ptr<HtmlLogRequest> request(static_cast<HtmlLogRequest*>(logReq));
    try {
        DOM::WindowPtr window = request->host->getDOMWindow();
        if (window && window->getJSObject() && window->getJSObject()->HasProperty("console")) {
            JSObjectPtr console = window->getProperty<JSObjectPtr>("console");
            std::printf("Logging: %s\n", request->msg.c_str());
            if (console)
                console->Invoke("log", VariantList{variant(request->msg)});
        }
    } catch (const std::exception&) {
        FBLOG_TRACE("BrowserHost", "Logging to browser console failed");
    }
}

void BrowserHost::shutdown() {
    // Only the first call does the work. Later ones, including those made from inside it
    // (a pending call below may hold the last handle to a plug-in object whose destructor
    // shuts its host down), return at once instead of waiting for the lock held here.
    if (m_shutdownStarted.exchange(true))
        return;
    // A pending request run below may hold the last other reference to this host.
    BrowserHostPtr keepAlive = weak_from_this().lock();
    freeRetainedObjects();
    upgrade_lock lock(m_xtmutex);  // calls already waiting keep their shared ownership
    m_isShutDown = true;
    m_callManager->shutdown();
    m_streamManager.reset();
}

DOM::WindowPtr BrowserHost::_createWindow(const JSObjectPtr& obj) const {
    return std::make_shared<DOM::Window>(obj);
}

DOM::DocumentPtr BrowserHost::_createDocument(const JSObjectPtr& obj) const {
    return std::make_shared<DOM::Document>(obj);
}

DOM::ElementPtr BrowserHost::_createElement(const JSObjectPtr& obj) const {
    return std::make_shared<DOM::Element>(obj);
}

DOM::NodePtr BrowserHost::_createNode(const JSObjectPtr& obj) const {
    return std::make_shared<DOM::Node>(obj);
}

bool BrowserHost::ScheduleAsyncCall(void (*func)(void*), void* userData) const {
    if (isShutDown())
        return false;
    void* handle = m_callManager->makeCallback(func, userData);
    if (!handle)
        return false;  // shut down meanwhile
    if (_scheduleAsyncCall(&AsyncCallManager::asyncCallbackFunction, handle))
        return true;
    // Refused: take the record back, or shutdown would later run a call whose data the
    // caller frees now. If shutdown got to it first, it has run: report it as scheduled.
    return !m_callManager->cancel(handle);
}

void BrowserHost::retainJSObject(const JSAPIPtr& obj) const {
    std::lock_guard<std::recursive_mutex> lock(m_jsObjectMutex);
    m_retainedObjects.push_back(obj);
}

void BrowserHost::releaseJSObject(const JSAPIPtr& obj) const {
    std::list<JSAPIPtr> released;
    {
        std::lock_guard<std::recursive_mutex> lock(m_jsObjectMutex);
        // One entry: each wrapper handed out took one, and the others still answer the page.
        auto it = std::find(m_retainedObjects.begin(), m_retainedObjects.end(), obj);
        if (it != m_retainedObjects.end())
            released.splice(released.end(), m_retainedObjects, it);
    }
    released.clear();  // outside the lock, as in freeRetainedObjects
    if (isMainThread())
        DoDeferredRelease();
}

void BrowserHost::freeRetainedObjects() const {
    std::list<JSAPIPtr> released;
    {
        std::lock_guard<std::recursive_mutex> lock(m_jsObjectMutex);
        released.swap(m_retainedObjects);
    }
    // Destroyed outside the lock: a destructor may come back to release another object.
    released.clear();
    DoDeferredRelease();
}

} // namespace FB
