#include "NpapiBrowserHost.h"

#include "AsyncCallManager.h"
#include "BrowserStreamEvents.h"
#include "DOMDocument.h"
#include "DOMElement.h"
#include "DOMWindow.h"
#include "JSExceptions.h"
#include "NPJavascriptObject.h"
#include "NPObjectAPI.h"
#include "NpapiPluginModule.h"
#include "NpapiStream.h"
#include "logging.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <utility>

namespace FB { namespace Npapi {

namespace {

void guardedPendingCall(void* record) {
    try {
        AsyncCallManager::asyncCallbackFunction(record);
    } catch (const std::exception& e) {
        FBLOG_WARN("NpapiBrowserHost", "A call on the main thread failed: " << e.what());
    } catch (...) {
        FBLOG_WARN("NpapiBrowserHost", "A call on the main thread failed");
    }
}

} // namespace

NpapiBrowserHost::AsyncFunction NpapiBrowserHost::browserSafe(AsyncFunction func) {
    return func == &AsyncCallManager::asyncCallbackFunction ? &guardedPendingCall : func;
}

NpapiBrowserHost::NpapiBrowserHost(NpapiPluginModule* module, NPP npp) : m_module(module), m_npp(npp) {
    std::memset(&m_npnFuncs, 0, sizeof(m_npnFuncs));
}

NpapiBrowserHost::~NpapiBrowserHost() {
    // Nothing can be given back to the browser from here (no longer its thread, maybe
    // no longer its instance): whatever is still queued is dropped.
    std::lock_guard<std::mutex> lock(m_deferredMutex);
    m_deferredObjects.clear();
}

template <typename Entry>
Entry NpapiBrowserHost::moduleEntry(Entry NPNetscapeFuncs::*entry) const {
    return m_module ? m_module->netscapeFuncs().*entry : nullptr;
}

void NpapiBrowserHost::setBrowserFuncs(const NPNetscapeFuncs* pFuncs) {
    NpapiPluginModule::copyNetscapeFuncs(pFuncs, m_npnFuncs);

    // The references GetValue hands out are given back whatever happens: each wrapper
    // takes one of its own.
    struct BrowserReference {
        const NpapiBrowserHost& host;
        NPObject* object = nullptr;
        ~BrowserReference() {
            if (object)
                host.ReleaseObject(object);
        }
    } window{*this}, element{*this};
    try {
        if (GetValue(NPNVWindowNPObject, static_cast<void*>(&window.object)) != NPERR_NO_ERROR)
            window.object = nullptr;
        if (GetValue(NPNVPluginElementNPObject, static_cast<void*>(&element.object)) != NPERR_NO_ERROR)
            element.object = nullptr;
        if (window.object)
            m_htmlWin = std::make_shared<NPObjectAPI>(window.object, sharedHost());
        if (element.object)
            m_htmlElement = std::make_shared<NPObjectAPI>(element.object, sharedHost());
        if (m_htmlWin)
            m_htmlDoc = m_htmlWin->GetProperty("document").convert_cast<JSObjectPtr>();
    } catch (const std::exception& e) {
        FBLOG_WARN("NpapiBrowserHost", "Page objects not available: " << e.what());
    }
}

DOM::DocumentPtr NpapiBrowserHost::getDOMDocument() {
    if (!m_htmlDoc)
        throw std::runtime_error("Cannot find HTML document");
    return _createDocument(m_htmlDoc);
}

DOM::WindowPtr NpapiBrowserHost::getDOMWindow() {
    if (!m_htmlWin)
        throw std::runtime_error("Cannot find HTML window");
    return _createWindow(m_htmlWin);
}

DOM::ElementPtr NpapiBrowserHost::getDOMElement() {
    if (!m_htmlElement)
        throw std::runtime_error("Cannot find HTML window");
    return _createElement(m_htmlElement);
}

void NpapiBrowserHost::getMethodObjectNPVariant(NPVariant* dst, const JSAPIPtr& method) {
    assertMainThread();
    auto kept = m_methodWrappers.find(method.get());
    if (kept != m_methodWrappers.end()) {
        // Still the same object (not one made at a freed one's address) and not freed by
        // the browser with its instance.
        if (kept->second.method.lock() == method && !kept->second.life.expired() && !isShutDown()) {
            NPObject* wrapper = kept->second.wrapper;
            RetainObject(wrapper);
            OBJECT_TO_NPVARIANT(wrapper, *dst);
            return;
        }
        m_methodWrappers.erase(kept);
    }
    getNPVariant(dst, variant(method));
    if (isShutDown() || m_methodWrappers.size() >= kKeptMethodWrappers || !NPVARIANT_IS_OBJECT(*dst) ||
        !NPJavascriptObject::isNPJavascriptObject(NPVARIANT_TO_OBJECT(*dst)))
        return;
    NPObject* wrapper = NPVARIANT_TO_OBJECT(*dst);
    RetainObject(wrapper);
    m_methodWrappers[method.get()] =
        KeptWrapper{method, wrapper, NPJavascriptObject::fromNPObject(wrapper)->lifeToken()};
}

void NpapiBrowserHost::releaseMethodWrappers() {
    std::unordered_map<const JSAPI*, KeptWrapper> kept;
    kept.swap(m_methodWrappers);
    // A release may free a wrapper, which lets go of its method object and may come back
    // here: the table is empty by then.
    for (auto& entry : kept)
        if (!entry.second.life.expired())
            ReleaseObject(entry.second.wrapper);
}

JSObjectPtr NpapiBrowserHost::createScriptArray() {
    DOM::WindowPtr window = getDOMWindow();
    return window->getJSObject()->Invoke("Array", VariantList()).convert_cast<JSObjectPtr>();
}

JSObjectPtr NpapiBrowserHost::createScriptMap() {
    DOM::WindowPtr window = getDOMWindow();
    return window->getJSObject()->Invoke("Object", VariantList()).convert_cast<JSObjectPtr>();
}

void NpapiBrowserHost::evaluateJavaScript(const std::string& script) {
    auto window = std::dynamic_pointer_cast<NPObjectAPI>(m_htmlWin);
    if (!window)
        throw std::runtime_error("Cannot find HTML window");
    if (script.size() > UINT32_MAX)
        throw script_error("Error executing JavaScript code");
    // The browser only reads the text during the call.
    NPString text = {script.data(), static_cast<uint32_t>(script.size())};
    NPVariant result;
    VOID_TO_NPVARIANT(result);
    if (!Evaluate(window->getNPObject(), &text, &result))
        throw script_error("Error executing JavaScript code");
    ReleaseVariantValue(&result);
}

void NpapiBrowserHost::shutdown() {
    if (!isShutDown() && isMainThread()) {
        // Released through deferredRelease while the instance still exists.
        m_htmlDoc.reset();
        m_htmlElement.reset();
        m_htmlWin.reset();
        releaseMethodWrappers();
    }
    BrowserHost::shutdown();
    // The manager has closed what was still open. What remains waits for browser calls
    // that can no longer come.
    std::map<const void*, std::weak_ptr<NpapiStream>> streams;
    {
        std::lock_guard<std::mutex> lock(m_streamMutex);
        streams.swap(m_streams);
    }
    for (const auto& entry : streams) {
        if (NpapiStreamPtr stream = entry.second.lock())
            stream->abandon();
    }
}

void NpapiBrowserHost::deferredRelease(NPObject* obj) const {
    {
        std::lock_guard<std::mutex> lock(m_deferredMutex);
        m_deferredObjects.push_back(DeferredObject{obj, false, {}});
    }
    if (isMainThread())
        DoDeferredRelease();
}

void NpapiBrowserHost::deferredRelease(NPObject* obj, const std::weak_ptr<const void>& life) const {
    {
        std::lock_guard<std::mutex> lock(m_deferredMutex);
        m_deferredObjects.push_back(DeferredObject{obj, true, life});
    }
    if (isMainThread())
        DoDeferredRelease();
}

void NpapiBrowserHost::DoDeferredRelease() const {
    assertMainThread();
    for (;;) {
        DeferredObject deferred{nullptr, false, {}};
        {
            std::lock_guard<std::mutex> lock(m_deferredMutex);
            if (m_deferredObjects.empty())
                return;
            deferred = std::move(m_deferredObjects.front());
            m_deferredObjects.pop_front();
        }
        // Freed by the browser already: nothing to give back. Checked here, on the main
        // thread, where the browser frees objects.
        if (deferred.tracked && deferred.life.expired())
            continue;
        // Outside the lock: the release may come back here through the object's class.
        ReleaseObject(deferred.object);
    }
}

bool NpapiBrowserHost::_scheduleAsyncCall(void (*func)(void*), void* userData) const {
    // A browser without the thread hand-over: a call handed to nobody would never run and
    // its waiter never wake, so it is refused and the caller hears of it at once.
    if (!instanceEntry(&NPNetscapeFuncs::pluginthreadasynccall))
        return false;
    PluginThreadAsyncCall(browserSafe(func), userData);
    return true;
}

BrowserStreamPtr NpapiBrowserHost::_createStream(const std::string& url, const PluginEventSinkPtr& callback,
                                                 bool cache, bool seekable, size_t internalBufferSize) const {
    if (isShutDown())
        return nullptr;
    // The buffer size is what NPP_WriteReady answers: 0 would leave the browser offering
    // nothing forever, and more than 2^31 - 1 bytes is no byte count it can take.
    if (internalBufferSize == 0)
        throw std::invalid_argument("A stream needs a buffer of at least one byte: " + url);
    internalBufferSize = std::min<size_t>(internalBufferSize, std::numeric_limits<int32_t>::max());
    auto self = std::static_pointer_cast<const NpapiBrowserHost>(shared_from_this());
    auto stream = std::make_shared<NpapiStream>(url, cache, seekable, internalBufferSize, self);
    if (callback)
        stream->attachObserver(callback);
    // Known before the browser is asked: a browser may report on the request (a failure
    // above all) before NPN_GetURLNotify returns.
    {
        std::lock_guard<std::mutex> lock(m_streamMutex);
        for (auto it = m_streams.begin(); it != m_streams.end();)
            it = it->second.expired() ? m_streams.erase(it) : std::next(it);
        m_streams[stream.get()] = stream;
    }
    stream->setSelfReference(stream);
    if (GetURLNotify(url.c_str(), nullptr, stream.get()) != NPERR_NO_ERROR) {
        // Never a stream for the caller: its sink hears nothing of it.
        forgetStream(stream.get());
        stream->setCompleted(true);
        if (callback)
            stream->detachObserver(callback);
        stream->abandon();
        return nullptr;
    }
    StreamCreatedEvent created(stream.get());
    stream->sendEvent(&created);
    return stream;
}

NpapiStreamPtr NpapiBrowserHost::findStream(const void* notifyData) const {
    if (!notifyData)
        return nullptr;
    std::lock_guard<std::mutex> lock(m_streamMutex);
    auto it = m_streams.find(notifyData);
    return it == m_streams.end() ? nullptr : it->second.lock();
}

void NpapiBrowserHost::forgetStream(const void* notifyData) const {
    std::lock_guard<std::mutex> lock(m_streamMutex);
    m_streams.erase(notifyData);
}

// Instance-bound wrappers.

NPError NpapiBrowserHost::GetURLNotify(const char* url, const char* target, void* notifyData) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::geturlnotify);
    return f ? f(m_npp, url, target, notifyData) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::GetURL(const char* url, const char* target) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::geturl);
    return f ? f(m_npp, url, target) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::PostURLNotify(const char* url, const char* target, uint32_t len, const char* buf,
                                        NPBool file, void* notifyData) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::posturlnotify);
    return f ? f(m_npp, url, target, len, buf, file, notifyData) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::PostURL(const char* url, const char* target, uint32_t len, const char* buf,
                                  NPBool file) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::posturl);
    return f ? f(m_npp, url, target, len, buf, file) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::RequestRead(NPStream* stream, NPByteRange* rangeList) const {
    assertMainThread();
    // No instance argument, but the stream belongs to the instance.
    auto f = instanceEntry(&NPNetscapeFuncs::requestread);
    return f ? f(stream, rangeList) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::NewStream(NPMIMEType type, const char* target, NPStream** stream) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::newstream);
    return f ? f(m_npp, type, target, stream) : NPERR_GENERIC_ERROR;
}

int32_t NpapiBrowserHost::Write(NPStream* stream, int32_t len, void* buffer) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::write);
    return f ? f(m_npp, stream, len, buffer) : 0;
}

NPError NpapiBrowserHost::DestroyStream(NPStream* stream, NPReason reason) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::destroystream);
    return f ? f(m_npp, stream, reason) : NPERR_GENERIC_ERROR;
}

void NpapiBrowserHost::Status(const char* message) const {
    assertMainThread();
    if (auto f = instanceEntry(&NPNetscapeFuncs::status))
        f(m_npp, message);
}

const char* NpapiBrowserHost::UserAgent() const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::uagent);
    return f ? f(m_npp) : nullptr;
}

NPError NpapiBrowserHost::GetValue(NPNVariable variable, void* value) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::getvalue);
    return f ? f(m_npp, variable, value) : NPERR_GENERIC_ERROR;
}

NPError NpapiBrowserHost::SetValue(NPPVariable variable, void* value) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::setvalue);
    return f ? f(m_npp, variable, value) : NPERR_GENERIC_ERROR;
}

void NpapiBrowserHost::InvalidateRect(NPRect* invalidRect) const {
    assertMainThread();
    if (auto f = instanceEntry(&NPNetscapeFuncs::invalidaterect))
        f(m_npp, invalidRect);
}

void NpapiBrowserHost::InvalidateRect(NPRect invalidRect) const {
    InvalidateRect(&invalidRect);
}

void NpapiBrowserHost::InvalidateRegion(NPRegion invalidRegion) const {
    assertMainThread();
    if (auto f = instanceEntry(&NPNetscapeFuncs::invalidateregion))
        f(m_npp, invalidRegion);
}

void NpapiBrowserHost::ForceRedraw() const {
    assertMainThread();
    if (auto f = instanceEntry(&NPNetscapeFuncs::forceredraw))
        f(m_npp);
}

void NpapiBrowserHost::PushPopupsEnabledState(NPBool enabled) const {
    assertMainThread();
    if (auto f = instanceEntry(&NPNetscapeFuncs::pushpopupsenabledstate))
        f(m_npp, enabled);
}

void NpapiBrowserHost::PopPopupsEnabledState() const {
    assertMainThread();
    if (auto f = instanceEntry(&NPNetscapeFuncs::poppopupsenabledstate))
        f(m_npp);
}

void NpapiBrowserHost::PluginThreadAsyncCall(void (*func)(void*), void* userData) const {
    if (auto f = instanceEntry(&NPNetscapeFuncs::pluginthreadasynccall))
        f(m_npp, func, userData);
}

NPObject* NpapiBrowserHost::CreateObject(NPClass* aClass) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::createobject);
    return f ? f(m_npp, aClass) : nullptr;
}

bool NpapiBrowserHost::Invoke(NPObject* npobj, NPIdentifier methodName, const NPVariant* args, uint32_t argCount,
                              NPVariant* result) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::invoke);
    return f && f(m_npp, npobj, methodName, args, argCount, result);
}

bool NpapiBrowserHost::InvokeDefault(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                                     NPVariant* result) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::invokeDefault);
    return f && f(m_npp, npobj, args, argCount, result);
}

bool NpapiBrowserHost::Evaluate(NPObject* npobj, NPString* script, NPVariant* result) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::evaluate);
    return f && f(m_npp, npobj, script, result);
}

bool NpapiBrowserHost::GetProperty(NPObject* npobj, NPIdentifier propertyName, NPVariant* result) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::getproperty);
    return f && f(m_npp, npobj, propertyName, result);
}

bool NpapiBrowserHost::SetProperty(NPObject* npobj, NPIdentifier propertyName, const NPVariant* value) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::setproperty);
    return f && f(m_npp, npobj, propertyName, value);
}

bool NpapiBrowserHost::RemoveProperty(NPObject* npobj, NPIdentifier propertyName) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::removeproperty);
    return f && f(m_npp, npobj, propertyName);
}

bool NpapiBrowserHost::HasProperty(NPObject* npobj, NPIdentifier propertyName) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::hasproperty);
    return f && f(m_npp, npobj, propertyName);
}

bool NpapiBrowserHost::HasMethod(NPObject* npobj, NPIdentifier methodName) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::hasmethod);
    return f && f(m_npp, npobj, methodName);
}

bool NpapiBrowserHost::Enumerate(NPObject* npobj, NPIdentifier** identifier, uint32_t* count) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::enumerate);
    return f && f(m_npp, npobj, identifier, count);
}

bool NpapiBrowserHost::Construct(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                                 NPVariant* result) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::construct);
    return f && f(m_npp, npobj, args, argCount, result);
}

uint32_t NpapiBrowserHost::ScheduleTimer(uint32_t interval, NPBool repeat,
                                         void (*timerFunc)(NPP npp, uint32_t timerID)) const {
    assertMainThread();
    auto f = instanceEntry(&NPNetscapeFuncs::scheduletimer);
    return f ? f(m_npp, interval, repeat, timerFunc) : 0;
}

void NpapiBrowserHost::UnscheduleTimer(uint32_t timerID) const {
    assertMainThread();
    if (auto f = instanceEntry(&NPNetscapeFuncs::unscheduletimer))
        f(m_npp, timerID);
}

// Wrappers of the module's table.

void NpapiBrowserHost::SetException(NPObject* npobj, const std::string& message) const {
    assertMainThread();
    if (auto f = moduleEntry(&NPNetscapeFuncs::setexception))
        f(npobj, message.c_str());
}

void* NpapiBrowserHost::MemAlloc(uint32_t size) const {
    auto f = moduleEntry(&NPNetscapeFuncs::memalloc);
    return f ? f(size) : nullptr;
}

void NpapiBrowserHost::MemFree(void* ptr) const {
    if (auto f = moduleEntry(&NPNetscapeFuncs::memfree))
        f(ptr);
}

uint32_t NpapiBrowserHost::MemFlush(uint32_t size) const {
    auto f = moduleEntry(&NPNetscapeFuncs::memflush);
    return f ? f(size) : 0;
}

void NpapiBrowserHost::ReloadPlugins(NPBool reloadPages) const {
    assertMainThread();
    if (auto f = moduleEntry(&NPNetscapeFuncs::reloadplugins))
        f(reloadPages);
}

NPIdentifier NpapiBrowserHost::GetStringIdentifier(const NPUTF8* name) const {
    assertMainThread();
    auto f = moduleEntry(&NPNetscapeFuncs::getstringidentifier);
    return f ? f(name) : nullptr;
}

void NpapiBrowserHost::GetStringIdentifiers(const NPUTF8** names, int32_t nameCount,
                                            NPIdentifier* identifiers) const {
    assertMainThread();
    if (auto f = moduleEntry(&NPNetscapeFuncs::getstringidentifiers))
        f(names, nameCount, identifiers);
}

NPIdentifier NpapiBrowserHost::GetIntIdentifier(int32_t intid) const {
    assertMainThread();
    auto f = moduleEntry(&NPNetscapeFuncs::getintidentifier);
    return f ? f(intid) : nullptr;
}

bool NpapiBrowserHost::IdentifierIsString(NPIdentifier identifier) const {
    assertMainThread();
    auto f = moduleEntry(&NPNetscapeFuncs::identifierisstring);
    return f ? f(identifier) : true;
}

std::string NpapiBrowserHost::UTF8FromIdentifier(NPIdentifier identifier) const {
    assertMainThread();
    const auto kept = m_identifierNames.find(identifier);
    if (kept != m_identifierNames.end())
        return kept->second;
    auto f = moduleEntry(&NPNetscapeFuncs::utf8fromidentifier);
    NPUTF8* text = f ? f(identifier) : nullptr;
    if (!text)
        return std::string();
    struct Free {
        const NpapiBrowserHost* host;
        NPUTF8* text;
        ~Free() { host->MemFree(text); }
    } freeText{this, text};
    std::string name(text);
    // Kept under the identifier the plug-in asks for itself, which names this text as long
    // as the browser runs. The one a callback brings may live for that call only (browsers
    // that run plug-ins in a process of their own free it), and its address may name
    // another member in the next call.
    if (m_identifierNames.size() < kKeptIdentifierNames) {
        if (NPIdentifier lasting = GetStringIdentifier(name.c_str()))
            m_identifierNames.emplace(lasting, name);
    }
    return name;
}

int32_t NpapiBrowserHost::IntFromIdentifier(NPIdentifier identifier) const {
    assertMainThread();
    auto f = moduleEntry(&NPNetscapeFuncs::intfromidentifier);
    return f ? f(identifier) : 1;
}

NPObject* NpapiBrowserHost::RetainObject(NPObject* npobj) const {
    assertMainThread();
    if (isShutDown())
        return nullptr;
    auto f = moduleEntry(&NPNetscapeFuncs::retainobject);
    return f ? f(npobj) : npobj;
}

void NpapiBrowserHost::ReleaseObject(NPObject* npobj) const {
    assertMainThread();
    if (isShutDown())
        return;
    if (auto f = moduleEntry(&NPNetscapeFuncs::releaseobject))
        f(npobj);
}

void NpapiBrowserHost::ReleaseVariantValue(NPVariant* variant) const {
    assertMainThread();
    if (isShutDown())
        return;
    if (auto f = moduleEntry(&NPNetscapeFuncs::releasevariantvalue))
        f(variant);
}

}} // namespace FB::Npapi
