#pragma once
// FB::Npapi::NPJavascriptObject: a plug-in scriptable object (JSAPI) as the page sees it,
// an NPObject whose class answers the browser from the JSAPI. The browser only ever holds
// the NPObject base; fromNPObject finds the whole object back.
//
// No exception leaves a callback: it would unwind through the browser's C frames and end
// the browser process. A script error, or any other failure, becomes a page exception
// (NPN_SetException) and the callback's failure answer; a scriptable object or host that
// has gone makes the callback answer false without an exception.

#include "JSFunction.h"
#include "NpapiTypes.h"
#include "npruntime.h"

#include <memory>
#include <string>
#include <typeinfo>

namespace FB { namespace Npapi {

// The scriptable object or the host behind a wrapper has gone. A bad cast, as such
// failures have always been; callbacks answer it silently.
class object_gone : public std::bad_cast {
public:
    const char* what() const noexcept override { return "bad cast"; }
};

class NPJavascriptObject : public NPObject {
public:
    // The class of every wrapper, the same for all instances of the process.
    static const NPClass NPJavascriptObjectClass;

    // A new wrapper, created through the browser, with the reference creation gives
    // (the caller's). auto_release: the api was retained in the host for this wrapper
    // and is released from it when the browser frees the wrapper.
    // FB::script_error when the browser creates no object.
    static NPJavascriptObject* NewObject(const NpapiBrowserHostPtr& host, const JSAPIWeakPtr& api,
                                         bool auto_release = false);
    static bool isNPJavascriptObject(const NPObject* npo) { return npo && npo->_class == &NPJavascriptObjectClass; }
    // Only for an object of the class (isNPJavascriptObject).
    static NPJavascriptObject* fromNPObject(NPObject* npo) { return static_cast<NPJavascriptObject*>(npo); }

    virtual ~NPJavascriptObject();
    NPJavascriptObject(const NPJavascriptObject&) = delete;
    NPJavascriptObject& operator=(const NPJavascriptObject&) = delete;

    NPObject* getNPObject() { return this; }
    // Expires when the browser frees this wrapper. A browser may free every object of an
    // instance that ends, whatever its count, while another instance still holds one.
    std::weak_ptr<const void> lifeToken() const { return m_life; }
    // object_gone when the scriptable object no longer exists.
    JSAPIPtr getAPI() const;
    JSAPIPtr getAPIIfAlive() const { return m_api.lock(); }
    // object_gone when the host no longer exists, after invalidating this wrapper.
    NpapiBrowserHostPtr getHost();
    bool isValid() const { return m_valid; }

    // The script values of "addEventListener" and "removeEventListener": (type, handler
    // [, capture]) registers or removes handler for the event "on" + type of the object.
    class NPO_eventListener : public JSFunction {
    public:
        // Called when the wrapper goes before its listener functions do.
        void detach() { obj = nullptr; }

    protected:
        NPO_eventListener(NPJavascriptObject* ptr, const std::string& methodName);
        // The scriptable object, event name and handler a call names; FB::invalid_arguments
        // for wrong arguments, FB::object_invalidated when the object has gone.
        JSAPIPtr target(const VariantList& args, std::string& eventName, JSObjectPtr& handler) const;

        NPJavascriptObject* obj;
    };

    class NPO_addEventListener : public NPO_eventListener {
    public:
        explicit NPO_addEventListener(NPJavascriptObject* ptr) : NPO_eventListener(ptr, "attachEvent") {}
        variant call(const VariantList& args) override;
    };

    class NPO_removeEventListener : public NPO_eventListener {
    public:
        explicit NPO_removeEventListener(NPJavascriptObject* ptr) : NPO_eventListener(ptr, "detachEvent") {}
        variant call(const VariantList& args) override;
    };

private:
    NPJavascriptObject();

    // NPClass callbacks.
    static NPObject* Allocate(NPP npp, NPClass* aClass);
    static void Deallocate(NPObject* npobj);
    static void Invalidate(NPObject* npobj);
    static bool HasMethod(NPObject* npobj, NPIdentifier name);
    static bool Invoke(NPObject* npobj, NPIdentifier name, const NPVariant* args, uint32_t argCount,
                       NPVariant* result);
    static bool InvokeDefault(NPObject* npobj, const NPVariant* args, uint32_t argCount, NPVariant* result);
    static bool HasProperty(NPObject* npobj, NPIdentifier name);
    static bool GetProperty(NPObject* npobj, NPIdentifier name, NPVariant* result);
    static bool SetProperty(NPObject* npobj, NPIdentifier name, const NPVariant* value);
    static bool RemoveProperty(NPObject* npobj, NPIdentifier name);
    static bool Enumeration(NPObject* npobj, NPIdentifier** value, uint32_t* count);
    static bool Construct(NPObject* npobj, const NPVariant* args, uint32_t argCount, NPVariant* result);

    // The callbacks' work; each may throw.
    void invalidate();
    bool hasMethod(NPIdentifier name);
    bool callMethod(const std::string& methodName, const NPVariant* args, uint32_t argCount, NPVariant* result);
    bool hasProperty(NPIdentifier name);
    bool getProperty(NPIdentifier name, NPVariant* result);
    bool setProperty(NPIdentifier name, const NPVariant* value);
    bool removeProperty(NPIdentifier name);
    bool enumeration(NPIdentifier** value, uint32_t* count);

    // Runs a callback's work at the boundary: the failure answer when the object is
    // invalid or anything is thrown. failureAnswer is what a reported failure returns.
    template <typename Work>
    static bool guarded(NPObject* npobj, bool failureAnswer, Work work);
    // A page exception on this object, unless the host has gone.
    void reportError(const char* message);

    JSAPIWeakPtr m_api;
    NpapiBrowserHostWeakPtr m_browser;
    std::shared_ptr<const void> m_life;
    bool m_valid;
    bool m_autoRelease;
    std::shared_ptr<NPO_addEventListener> m_addEventFunc;
    std::shared_ptr<NPO_removeEventListener> m_removeEventFunc;
};

}} // namespace FB::Npapi
