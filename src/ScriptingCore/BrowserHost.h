#pragma once
// FB::BrowserHost: the plug-in's handle on the browser that hosts one plug-in instance:
// DOM access, script evaluation, streams, the page's console, and above all running code
// on the browser's main thread. The adapters derive their hosts from it and supply the
// browser-specific primitives (the pure operations).

#include "APITypes.h"
#include "AsyncCallManager.h"
#include "CrossThreadCall.h"
#include "UpgradeMutex.h"

#include <atomic>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <type_traits>

namespace FB {

class BrowserHost : public std::enable_shared_from_this<BrowserHost> {
public:
    // The constructing thread becomes the host's main thread.
    BrowserHost();
    virtual ~BrowserHost();
    BrowserHost(const BrowserHost&) = delete;
    BrowserHost& operator=(const BrowserHost&) = delete;

    virtual void* getContextID() const = 0;
    // Opens a stream through the adapter and hands it to the stream manager to keep.
    virtual BrowserStreamPtr createStream(const std::string& url, const PluginEventSinkPtr& callback,
                                          bool cache = true, bool seekable = false,
                                          size_t internalBufferSize = 128 * 1024) const;
    virtual DOM::DocumentPtr getDOMDocument() = 0;
    virtual DOM::WindowPtr getDOMWindow() = 0;
    virtual DOM::ElementPtr getDOMElement() = 0;
    virtual void evaluateJavaScript(const std::wstring& script);
    virtual void evaluateJavaScript(const std::string& script) = 0;
    // Writes to the framework log and, from the main thread later, to the page's console.
    virtual void htmlLog(const std::string& str);
    // Frees retained objects, runs the pending main-thread calls once, fails later
    // cross-thread calls. Any further call, also from inside the first, returns at once.
    virtual void shutdown();
    virtual void DoDeferredRelease() const = 0;
    virtual DOM::WindowPtr _createWindow(const JSObjectPtr& obj) const;
    virtual DOM::DocumentPtr _createDocument(const JSObjectPtr& obj) const;
    virtual DOM::ElementPtr _createElement(const JSObjectPtr& obj) const;
    virtual DOM::NodePtr _createNode(const JSObjectPtr& obj) const;
    // Arrange for func(userData) to run once on the main thread later; false if that
    // cannot be arranged. May be called from any thread.
    virtual bool _scheduleAsyncCall(void (*func)(void*), void* userData) const = 0;
    virtual BrowserStreamPtr _createStream(const std::string& url, const PluginEventSinkPtr& callback,
                                           bool cache, bool seekable, size_t internalBufferSize) const = 0;

    bool isMainThread() const { return std::this_thread::get_id() == m_threadId; }
    void assertMainThread() const {}
    bool isShutDown() const { return m_isShutDown; }

    // func(userData) once on the main thread, through a pending-call record. False when
    // shut down or when the browser refuses (then func will not run).
    bool ScheduleAsyncCall(void (*func)(void*), void* userData) const;

    // Runs func on the main thread and waits for it; inline when already there. A
    // script_error raised by func arrives here with its message; FB::script_error
    // "Could not marshal to main thread" or "Shutting down" when the call cannot complete.
    // A call whose waiter got "Shutting down" never runs, so it may refer to the caller's
    // locals.
    template <typename Functor>
    std::invoke_result_t<Functor&> CallOnMainThread(Functor func) {
        std::shared_lock<UpgradeMutex> lock(m_xtmutex);
        return CrossThreadCall::syncCall(*this, std::move(func));
    }

    // Queues func for the main thread and returns at once; obj stays alive until func has
    // run. Failures of func are not reported; a call the host refuses is dropped.
    template <typename C, typename Functor>
    void ScheduleOnMainThread(const std::shared_ptr<C>& obj, Functor func) {
        std::shared_lock<UpgradeMutex> lock(m_xtmutex);
        CrossThreadCall::asyncCall(*this, obj, std::move(func));
    }

    // Keeps obj alive for one wrapper handed to the browser; releaseJSObject gives back
    // one such hold (an object handed out twice keeps the other).
    void retainJSObject(const JSAPIPtr& obj) const;
    void releaseJSObject(const JSAPIPtr& obj) const;
    void freeRetainedObjects() const;

private:
    struct HtmlLogRequest;
    static void AsyncHtmlLog(void* logReq);

    AsyncCallManagerPtr m_callManager;
    std::thread::id m_threadId;
    std::atomic<bool> m_isShutDown;
    std::atomic<bool> m_shutdownStarted;
    mutable UpgradeMutex m_xtmutex;
    mutable std::recursive_mutex m_jsObjectMutex;
    mutable std::list<JSAPIPtr> m_retainedObjects;
    BrowserStreamManagerPtr m_streamManager;
};

} // namespace FB
