#pragma once
// FB::Npapi::NpapiBrowserHost: the BrowserHost of one NPAPI plug-in instance. It keeps the
// instance handle and its own copy of the browser's table, wraps each browser function
// the framework uses, finds the page's window, document and plug-in element, converts
// between NPVariant and variant, and runs calls and browser-object releases on the
// browser's main thread.
//
// After shutdown the instance may already be gone in the browser: no wrapper that names
// the instance calls the browser any more (each answers as if its entry were missing),
// and object references are neither taken nor given back. A host without an instance
// (a null NPP) likewise never names one.

#include "BrowserHost.h"
#include "NpapiTypes.h"
#include "npfunctions.h"
#include "variant.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace FB { namespace Npapi {

class NpapiBrowserHost : public BrowserHost {
public:
    // On the browser's main thread. module: the browser functions without instance go
    // through its table (none when null).
    NpapiBrowserHost(NpapiPluginModule* module, NPP npp);
    ~NpapiBrowserHost() override;

    // Copies the browser's table by the module's rules and finds the page's window, its
    // document and the plug-in's element. Objects the browser does not give stay null.
    void setBrowserFuncs(const NPNetscapeFuncs* pFuncs);

    void* getContextID() const override { return m_npp; }
    // std::runtime_error "Cannot find HTML window" / "Cannot find HTML document".
    DOM::DocumentPtr getDOMDocument() override;
    DOM::WindowPtr getDOMWindow() override;
    DOM::ElementPtr getDOMElement() override;
    using BrowserHost::evaluateJavaScript;
    // The script's own value is not returned. FB::script_error "Error executing
    // JavaScript code" when the browser reports a failure (some browsers never do).
    void evaluateJavaScript(const std::string& script) override;
    // Gives the page's window, document and element back to the browser while the
    // instance still exists, then shuts down as every host does, and lets go of every
    // stream it made (their instance is gone: the browser will not call for them).
    void shutdown() override;
    void DoDeferredRelease() const override;
    bool _scheduleAsyncCall(void (*func)(void*), void* userData) const override;
    // Asks the browser for the URL (NPN_GetURLNotify) with the stream as notify data;
    // null when the browser refuses or the host is shut down. A buffer size of 0 is
    // std::invalid_argument; one beyond 2^31 - 1 is cut to that.
    BrowserStreamPtr _createStream(const std::string& url, const PluginEventSinkPtr& callback, bool cache,
                                   bool seekable, size_t internalBufferSize) const override;
    // The stream this host made whose notify data the browser hands back; null for
    // anything else (a stream of another instance, one already gone, a value the browser
    // made up).
    std::shared_ptr<NpapiStream> findStream(const void* notifyData) const;
    // Releases obj on the main thread: now when called there, otherwise at the next
    // DoDeferredRelease. Any thread.
    virtual void deferredRelease(NPObject* obj) const;
    // The same for one of the plug-in's own wrappers, released only while life (its
    // lifeToken) has not expired: the browser may have freed it by then.
    void deferredRelease(NPObject* obj, const std::weak_ptr<const void>& life) const;

    // NPVariant -> variant. Strings are copied (zero bytes and all); an object becomes an
    // NPObjectAPI holding its own reference. A null pointer gives an empty variant.
    variant getVariant(const NPVariant* npVar);
    // variant -> NPVariant, which the caller then owns (NPN_ReleaseVariantValue). Strings
    // are copied into browser memory; plug-in objects are wrapped, browser objects handed
    // back with a reference. A type without a script form leaves dst unchanged.
    void getNPVariant(NPVariant* dst, const variant& var);

    // A method object as the page reads it (the property holding the method's function),
    // with a reference for the caller. The page reads it on every call of the method, so
    // its wrapper is made once and kept, with a reference of the host's own, until the
    // host shuts down or the browser frees it; beyond a few hundred kept ones each read
    // makes a new wrapper.
    void getMethodObjectNPVariant(NPVariant* dst, const JSAPIPtr& method);

    // A new empty array or object of the page, made by its window ("Array", "Object").
    JSObjectPtr createScriptArray();
    JSObjectPtr createScriptMap();

    NpapiBrowserHostPtr sharedHost() { return std::static_pointer_cast<NpapiBrowserHost>(shared_from_this()); }
    NPP getInstance() const { return m_npp; }
    const NPNetscapeFuncs& browserFuncs() const { return m_npnFuncs; }

    // Browser functions bound to this instance; a missing entry answers the value in
    // the comment.
    NPError GetURLNotify(const char* url, const char* target, void* notifyData) const;  // 1
    NPError GetURL(const char* url, const char* target) const;                          // 1
    NPError PostURLNotify(const char* url, const char* target, uint32_t len, const char* buf, NPBool file,
                          void* notifyData) const;                                                 // 1
    NPError PostURL(const char* url, const char* target, uint32_t len, const char* buf, NPBool file) const;  // 1
    NPError RequestRead(NPStream* stream, NPByteRange* rangeList) const;                           // 1
    NPError NewStream(NPMIMEType type, const char* target, NPStream** stream) const;               // 1
    int32_t Write(NPStream* stream, int32_t len, void* buffer) const;                              // 0
    NPError DestroyStream(NPStream* stream, NPReason reason) const;                                // 1
    void Status(const char* message) const;
    const char* UserAgent() const;                                                                 // null
    NPError GetValue(NPNVariable variable, void* value) const;                                     // 1
    NPError SetValue(NPPVariable variable, void* value) const;                                     // 1
    void InvalidateRect(NPRect* invalidRect) const;
    void InvalidateRect(NPRect invalidRect) const;
    void InvalidateRegion(NPRegion invalidRegion) const;
    void ForceRedraw() const;
    void PushPopupsEnabledState(NPBool enabled) const;
    void PopPopupsEnabledState() const;
    void PluginThreadAsyncCall(void (*func)(void*), void* userData) const;
    NPObject* CreateObject(NPClass* aClass) const;  // null
    bool Invoke(NPObject* npobj, NPIdentifier methodName, const NPVariant* args, uint32_t argCount,
                NPVariant* result) const;  // false, and so on
    bool InvokeDefault(NPObject* npobj, const NPVariant* args, uint32_t argCount, NPVariant* result) const;
    bool Evaluate(NPObject* npobj, NPString* script, NPVariant* result) const;
    bool GetProperty(NPObject* npobj, NPIdentifier propertyName, NPVariant* result) const;
    bool SetProperty(NPObject* npobj, NPIdentifier propertyName, const NPVariant* value) const;
    bool RemoveProperty(NPObject* npobj, NPIdentifier propertyName) const;
    bool HasProperty(NPObject* npobj, NPIdentifier propertyName) const;
    bool HasMethod(NPObject* npobj, NPIdentifier methodName) const;
    bool Enumerate(NPObject* npobj, NPIdentifier** identifier, uint32_t* count) const;
    bool Construct(NPObject* npobj, const NPVariant* args, uint32_t argCount, NPVariant* result) const;
    uint32_t ScheduleTimer(uint32_t interval, NPBool repeat, void (*timerFunc)(NPP npp, uint32_t timerID)) const;  // 0
    void UnscheduleTimer(uint32_t timerID) const;

    // Browser functions without an instance, through the module's table.
    void SetException(NPObject* npobj, const std::string& message) const;
    void* MemAlloc(uint32_t size) const;  // null
    void MemFree(void* ptr) const;
    uint32_t MemFlush(uint32_t size) const;  // 0
    void ReloadPlugins(NPBool reloadPages) const;
    NPIdentifier GetStringIdentifier(const NPUTF8* name) const;  // null
    void GetStringIdentifiers(const NPUTF8** names, int32_t nameCount, NPIdentifier* identifiers) const;
    NPIdentifier GetIntIdentifier(int32_t intid) const;  // null
    bool IdentifierIsString(NPIdentifier identifier) const;  // true
    // A copy of the browser's text (which is freed); empty when there is none. The page's
    // calls name the same members again and again, so the first few hundred names are
    // kept, each under the lasting identifier NPN_GetStringIdentifier gives for it: an
    // identifier handed to a callback may be freed after the call and its address reused.
    std::string UTF8FromIdentifier(NPIdentifier identifier) const;
    int32_t IntFromIdentifier(NPIdentifier identifier) const;  // 1
    // The object itself when the entry is missing; null and nothing done after shutdown.
    NPObject* RetainObject(NPObject* npobj) const;
    // Nothing after shutdown.
    void ReleaseObject(NPObject* npobj) const;
    void ReleaseVariantValue(NPVariant* variant) const;

protected:
    using AsyncFunction = void (*)(void*);
    // What to hand the browser for func: the framework's pending-call trampoline wrapped
    // so that nothing it runs throws into the browser's callback.
    static AsyncFunction browserSafe(AsyncFunction func);

    // The browser's entry for this instance; null after shutdown and without an instance.
    template <typename Entry>
    Entry instanceEntry(Entry NPNetscapeFuncs::*entry) const {
        return isShutDown() || !m_npp ? nullptr : m_npnFuncs.*entry;
    }
    template <typename Entry>
    Entry moduleEntry(Entry NPNetscapeFuncs::*entry) const;

    NPNetscapeFuncs m_npnFuncs;
    NpapiPluginModule* m_module;
    NPP m_npp;
    JSObjectPtr m_htmlDoc;
    JSObjectPtr m_htmlWin;
    JSObjectPtr m_htmlElement;

private:
    void forgetStream(const void* notifyData) const;

    mutable std::mutex m_streamMutex;
    mutable std::map<const void*, std::weak_ptr<NpapiStream>> m_streams;
    mutable std::mutex m_deferredMutex;
    struct DeferredObject {
        NPObject* object;
        bool tracked;                   // one of the plug-in's own wrappers
        std::weak_ptr<const void> life;  // when tracked
    };
    mutable std::deque<DeferredObject> m_deferredObjects;
    struct KeptWrapper {
        JSAPIWeakPtr method;
        NPObject* wrapper;
        std::weak_ptr<const void> life;  // the wrapper's lifeToken
    };
    // Main thread only. Bounded: a page can make objects without end.
    static constexpr std::size_t kKeptMethodWrappers = 256;
    std::unordered_map<const JSAPI*, KeptWrapper> m_methodWrappers;
    void releaseMethodWrappers();

    // Main thread only, like every identifier call. Bounded: a page can make names without end.
    static constexpr std::size_t kKeptIdentifierNames = 512;
    mutable std::unordered_map<NPIdentifier, std::string> m_identifierNames;
};

}} // namespace FB::Npapi
