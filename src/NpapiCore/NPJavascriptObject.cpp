#include "NPJavascriptObject.h"

#include "JSExceptions.h"
#include "JSObject.h"
#include "NpapiBrowserHost.h"

#include <cstdint>
#include <exception>
#include <new>
#include <vector>

namespace FB { namespace Npapi {

const NPClass NPJavascriptObject::NPJavascriptObjectClass = {
    NP_CLASS_STRUCT_VERSION_CTOR,
    &NPJavascriptObject::Allocate,
    &NPJavascriptObject::Deallocate,
    &NPJavascriptObject::Invalidate,
    &NPJavascriptObject::HasMethod,
    &NPJavascriptObject::Invoke,
    &NPJavascriptObject::InvokeDefault,
    &NPJavascriptObject::HasProperty,
    &NPJavascriptObject::GetProperty,
    &NPJavascriptObject::SetProperty,
    &NPJavascriptObject::RemoveProperty,
    &NPJavascriptObject::Enumeration,
    &NPJavascriptObject::Construct,
};

namespace {

const char kAddEventListener[] = "addEventListener";
const char kRemoveEventListener[] = "removeEventListener";

} // namespace

NPJavascriptObject* NPJavascriptObject::NewObject(const NpapiBrowserHostPtr& host, const JSAPIWeakPtr& api,
                                                  bool auto_release) {
    NPObject* created = host->CreateObject(const_cast<NPClass*>(&NPJavascriptObjectClass));
    if (!created)
        throw script_error("The browser could not create a script object");
    NPJavascriptObject* obj = fromNPObject(created);
    obj->m_api = api;
    obj->m_browser = host;
    obj->m_autoRelease = auto_release;
    return obj;
}

NPJavascriptObject::NPJavascriptObject()
    : NPObject{const_cast<NPClass*>(&NPJavascriptObjectClass), 0}, m_life(std::make_shared<char>(0)), m_valid(true),
      m_autoRelease(false) {}

NPJavascriptObject::~NPJavascriptObject() {
    try {
        if (m_autoRelease) {
            JSAPIPtr api = m_api.lock();
            NpapiBrowserHostPtr host = m_browser.lock();
            if (api && host)
                host->releaseJSObject(api);
        }
    } catch (...) {
        // The browser is freeing the object: nothing to report to.
    }
    // The page may still hold the listener functions; they must not reach back here.
    if (m_addEventFunc)
        m_addEventFunc->detach();
    if (m_removeEventFunc)
        m_removeEventFunc->detach();
}

JSAPIPtr NPJavascriptObject::getAPI() const {
    JSAPIPtr api = m_api.lock();
    if (!api)
        throw object_gone();
    return api;
}

NpapiBrowserHostPtr NPJavascriptObject::getHost() {
    NpapiBrowserHostPtr host = m_browser.lock();
    if (!host) {
        invalidate();
        throw object_gone();
    }
    return host;
}

void NPJavascriptObject::reportError(const char* message) {
    try {
        if (NpapiBrowserHostPtr host = m_browser.lock())
            host->SetException(this, message);
    } catch (...) {
        // Out of memory for the message: the callback's answer still tells the browser.
    }
}

template <typename Work>
bool NPJavascriptObject::guarded(NPObject* npobj, bool failureAnswer, Work work) {
    if (!npobj)
        return false;
    NPJavascriptObject* self = fromNPObject(npobj);
    if (!self->m_valid)
        return false;
    try {
        return work(*self);
    } catch (const object_gone&) {
        return false;
    } catch (const std::exception& e) {
        self->reportError(e.what());
    } catch (...) {
        self->reportError("Unknown error in the plugin");
    }
    return failureAnswer;
}

// Callbacks. A page only sees the message of an exception from invoke and invokeDefault
// when they answer true (WebKit puts its own generic text in its place otherwise; other
// browsers throw the exception either way), so these two answer true with a void result.

NPObject* NPJavascriptObject::Allocate(NPP, NPClass*) {
    try {
        return new NPJavascriptObject();
    } catch (...) {
        return nullptr;
    }
}

void NPJavascriptObject::Deallocate(NPObject* npobj) {
    if (npobj)
        delete fromNPObject(npobj);
}

void NPJavascriptObject::Invalidate(NPObject* npobj) {
    if (!npobj)
        return;
    try {
        fromNPObject(npobj)->invalidate();
    } catch (...) {
        // The page is going away; there is nobody to tell.
    }
}

bool NPJavascriptObject::HasMethod(NPObject* npobj, NPIdentifier name) {
    return guarded(npobj, false, [&](NPJavascriptObject& self) { return self.hasMethod(name); });
}

bool NPJavascriptObject::Invoke(NPObject* npobj, NPIdentifier name, const NPVariant* args, uint32_t argCount,
                                NPVariant* result) {
    if (!result)
        return false;
    VOID_TO_NPVARIANT(*result);
    return guarded(npobj, true, [&](NPJavascriptObject& self) {
        return self.callMethod(self.getHost()->UTF8FromIdentifier(name), args, argCount, result);
    });
}

bool NPJavascriptObject::InvokeDefault(NPObject* npobj, const NPVariant* args, uint32_t argCount,
                                       NPVariant* result) {
    if (!result)
        return false;
    VOID_TO_NPVARIANT(*result);
    return guarded(npobj, true,
                   [&](NPJavascriptObject& self) { return self.callMethod(std::string(), args, argCount, result); });
}

bool NPJavascriptObject::HasProperty(NPObject* npobj, NPIdentifier name) {
    return guarded(npobj, false, [&](NPJavascriptObject& self) { return self.hasProperty(name); });
}

bool NPJavascriptObject::GetProperty(NPObject* npobj, NPIdentifier name, NPVariant* result) {
    if (!result)
        return false;
    VOID_TO_NPVARIANT(*result);
    return guarded(npobj, false, [&](NPJavascriptObject& self) { return self.getProperty(name, result); });
}

bool NPJavascriptObject::SetProperty(NPObject* npobj, NPIdentifier name, const NPVariant* value) {
    return guarded(npobj, false, [&](NPJavascriptObject& self) { return self.setProperty(name, value); });
}

bool NPJavascriptObject::RemoveProperty(NPObject* npobj, NPIdentifier name) {
    return guarded(npobj, false, [&](NPJavascriptObject& self) { return self.removeProperty(name); });
}

bool NPJavascriptObject::Enumeration(NPObject* npobj, NPIdentifier** value, uint32_t* count) {
    if (!value || !count)
        return false;
    *value = nullptr;
    *count = 0;
    return guarded(npobj, false, [&](NPJavascriptObject& self) { return self.enumeration(value, count); });
}

bool NPJavascriptObject::Construct(NPObject*, const NPVariant*, uint32_t, NPVariant*) {
    return false;
}

// The callbacks' work.

void NPJavascriptObject::invalidate() {
    m_valid = false;
    try {
        getAPI()->invalidate();
    } catch (const object_gone&) {
        // Nothing left to invalidate.
    }
}

bool NPJavascriptObject::hasMethod(NPIdentifier name) {
    NpapiBrowserHostPtr host = getHost();
    JSAPIPtr api = getAPI();
    const std::string mName = host->UTF8FromIdentifier(name);
    if (mName == "toString")
        return true;
    // A method object is shown as a property holding a function.
    if (api->HasMethodObject(mName))
        return false;
    return api->HasMethod(mName);
}

bool NPJavascriptObject::callMethod(const std::string& methodName, const NPVariant* args, uint32_t argCount,
                                    NPVariant* result) {
    NpapiBrowserHostPtr host = getHost();
    JSAPIPtr api = getAPI();
    if (argCount && !args)
        throw invalid_arguments();
    VariantList params;
    params.reserve(argCount);
    for (uint32_t i = 0; i < argCount; ++i)
        params.push_back(host->getVariant(&args[i]));
    variant ret = api->Invoke(methodName, params);
    host->getNPVariant(result, ret);
    return true;
}

bool NPJavascriptObject::hasProperty(NPIdentifier name) {
    NpapiBrowserHostPtr host = getHost();
    JSAPIPtr api = getAPI();
    if (!host->IdentifierIsString(name))
        return api->HasProperty(host->IntFromIdentifier(name));
    const std::string sName = host->UTF8FromIdentifier(name);
    if (sName == kAddEventListener || sName == kRemoveEventListener)
        return true;
    if (sName != "toString" && api->HasMethodObject(sName))
        return true;
    if (hasMethod(name))
        return false;
    if (api->HasEvent(sName))
        return true;
    return api->HasProperty(sName);
}

bool NPJavascriptObject::getProperty(NPIdentifier name, NPVariant* result) {
    NpapiBrowserHostPtr host = getHost();
    JSAPIPtr api = getAPI();
    variant res;
    if (host->IdentifierIsString(name)) {
        const std::string sName = host->UTF8FromIdentifier(name);
        // Made when the page first asks: a wrapper is made for every method object the
        // page reads, and most never hear of listeners.
        if (sName == kAddEventListener) {
            if (!m_addEventFunc)
                m_addEventFunc = std::make_shared<NPO_addEventListener>(this);
            res = JSAPIPtr(m_addEventFunc);
        } else if (sName == kRemoveEventListener) {
            if (!m_removeEventFunc)
                m_removeEventFunc = std::make_shared<NPO_removeEventListener>(this);
            res = JSAPIPtr(m_removeEventFunc);
        } else if (api->HasEvent(sName)) {
            if (JSObjectPtr handler = api->getDefaultEventMethod(sName))
                res = handler;
        } else if (api->HasMethodObject(sName)) {
            host->getMethodObjectNPVariant(result, api->GetMethodObject(sName));
            return true;
        } else {
            res = api->GetProperty(sName);
        }
    } else {
        res = api->GetProperty(host->IntFromIdentifier(name));
    }
    host->getNPVariant(result, res);
    return true;
}

bool NPJavascriptObject::setProperty(NPIdentifier name, const NPVariant* value) {
    NpapiBrowserHostPtr host = getHost();
    JSAPIPtr api = getAPI();
    if (!value)
        throw invalid_arguments();
    variant arg = host->getVariant(value);
    if (!host->IdentifierIsString(name)) {
        api->SetProperty(host->IntFromIdentifier(name), arg);
        return true;
    }
    const std::string sName = host->UTF8FromIdentifier(name);
    if (api->HasEvent(sName)) {
        // The page's "on" property: a function sets the handler, null clears it, any
        // other value is ignored.
        if (value->type == NPVariantType_Null)
            api->setDefaultEventMethod(sName, JSObjectPtr());
        else if (value->type == NPVariantType_Object)
            api->setDefaultEventMethod(sName, arg.convert_cast<JSObjectPtr>());
        return true;
    }
    if (api->HasMethodObject(sName))
        throw script_error("This property cannot be changed");
    api->SetProperty(sName, arg);
    return true;
}

bool NPJavascriptObject::removeProperty(NPIdentifier name) {
    NpapiBrowserHostPtr host = getHost();
    JSAPIPtr api = getAPI();
    if (host->IdentifierIsString(name)) {
        const std::string sName = host->UTF8FromIdentifier(name);
        if (api->HasEvent(sName))
            api->setDefaultEventMethod(sName, JSObjectPtr());
    }
    return false;
}

bool NPJavascriptObject::enumeration(NPIdentifier** value, uint32_t* count) {
    NpapiBrowserHostPtr host = getHost();
    JSAPIPtr api = getAPI();
    std::vector<std::string> names;
    api->getMemberNames(names);
    names.push_back(kAddEventListener);
    names.push_back(kRemoveEventListener);
    if (names.size() > UINT32_MAX / sizeof(NPIdentifier))
        throw std::bad_alloc();
    const uint32_t n = static_cast<uint32_t>(names.size());
    auto* ids = static_cast<NPIdentifier*>(host->MemAlloc(n * static_cast<uint32_t>(sizeof(NPIdentifier))));
    if (!ids)
        throw std::bad_alloc();
    for (uint32_t i = 0; i < n; ++i)
        ids[i] = host->GetStringIdentifier(names[i].c_str());
    *value = ids;
    *count = n;
    return true;
}

// Listener functions.

NPJavascriptObject::NPO_eventListener::NPO_eventListener(NPJavascriptObject* ptr, const std::string& methodName)
    : JSFunction(JSAPIWeakPtr(), methodName, SecurityScope_Public), obj(ptr) {}

JSAPIPtr NPJavascriptObject::NPO_eventListener::target(const VariantList& args, std::string& eventName,
                                                       JSObjectPtr& handler) const {
    if (args.size() != 2 && args.size() != 3)
        throw invalid_arguments();
    try {
        eventName = "on" + args[0].convert_cast<std::string>();
        handler = args[1].convert_cast<JSObjectPtr>();
    } catch (const bad_variant_cast& e) {
        throw invalid_arguments(e.what());
    }
    JSAPIPtr api = obj ? obj->getAPIIfAlive() : JSAPIPtr();
    if (!api)
        throw object_invalidated();
    return api;
}

variant NPJavascriptObject::NPO_addEventListener::call(const VariantList& args) {
    std::string eventName;
    JSObjectPtr handler;
    target(args, eventName, handler)->registerEventMethod(eventName, handler);
    return variant();
}

variant NPJavascriptObject::NPO_removeEventListener::call(const VariantList& args) {
    std::string eventName;
    JSObjectPtr handler;
    target(args, eventName, handler)->unregisterEventMethod(eventName, handler);
    return variant();
}

}} // namespace FB::Npapi
