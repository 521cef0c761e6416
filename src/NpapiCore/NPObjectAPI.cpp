#include "NPObjectAPI.h"

#include "JSExceptions.h"
#include "NPJavascriptObject.h"
#include "NpapiBrowserHost.h"

#include <cstdint>
#include <exception>
#include <vector>

namespace FB { namespace Npapi {

namespace {

// Gives the browser its variant back however the scope is left.
class BrowserVariants {
public:
    BrowserVariants(const NpapiBrowserHost& host, size_t count) : m_host(host), m_values(count) {
        for (NPVariant& v : m_values)
            VOID_TO_NPVARIANT(v);
    }
    ~BrowserVariants() {
        for (NPVariant& v : m_values)
            m_host.ReleaseVariantValue(&v);
    }
    BrowserVariants(const BrowserVariants&) = delete;
    BrowserVariants& operator=(const BrowserVariants&) = delete;

    NPVariant* data() { return m_values.data(); }
    NPVariant& operator[](size_t i) { return m_values[i]; }

private:
    const NpapiBrowserHost& m_host;
    std::vector<NPVariant> m_values;
};

// The identifier array NPN_Enumerate hands out, freed with the browser's allocator.
class IdentifierArray {
public:
    explicit IdentifierArray(const NpapiBrowserHost& host) : m_host(host) {}
    ~IdentifierArray() {
        if (ids)
            m_host.MemFree(ids);
    }
    IdentifierArray(const IdentifierArray&) = delete;
    IdentifierArray& operator=(const IdentifierArray&) = delete;

    NPIdentifier* ids = nullptr;
    uint32_t count = 0;

private:
    const NpapiBrowserHost& m_host;
};

// Runs op on the browser's main thread for a caller on another thread. Every failure
// crosses as a standard exception: anything else would end the browser's callback and
// leave the caller waiting.
template <typename Op>
auto onMainThread(NpapiBrowserHost& host, Op op) -> decltype(op()) {
    return host.CallOnMainThread([op]() -> decltype(op()) {
        try {
            return op();
        } catch (const std::exception&) {
            throw;
        } catch (...) {
            throw script_error("Unknown error in the plugin");
        }
    });
}

} // namespace

NPObjectAPI::NPObjectAPI(NPObject* o, const NpapiBrowserHostPtr& h)
    : JSObject(h), m_browser(h), obj(o), is_JSAPI(false) {
    // Without a browser that takes the reference, the object could be freed under us.
    if (!h || h->isShutDown())
        obj = nullptr;
    if (obj && NPJavascriptObject::isNPJavascriptObject(obj)) {
        m_ownWrapper = true;
        m_wrapperLife = NPJavascriptObject::fromNPObject(obj)->lifeToken();
    }
    if (obj)
        h->RetainObject(obj);
    if (JSAPIPtr api = getJSAPI()) {
        is_JSAPI = true;
        inner = api;
    }
}

NPObjectAPI::~NPObjectAPI() {
    if (!obj)
        return;
    if (NpapiBrowserHostPtr host = m_browser.lock()) {
        if (m_ownWrapper)
            host->deferredRelease(obj, m_wrapperLife);
        else
            host->deferredRelease(obj);
    }
    obj = nullptr;
}

NpapiBrowserHostPtr NPObjectAPI::liveHost() const {
    NpapiBrowserHostPtr host = m_browser.lock();
    if (!host || host->isShutDown() || !obj || objectFreed())
        return nullptr;
    return host;
}

void* NPObjectAPI::getEventContext() const {
    NpapiBrowserHostPtr host = m_browser.lock();
    return host ? host->getContextID() : nullptr;
}

JSAPIPtr NPObjectAPI::getJSAPI() const {
    if (!obj || !m_ownWrapper || objectFreed())
        return nullptr;
    return NPJavascriptObject::fromNPObject(obj)->getAPIIfAlive();
}

void NPObjectAPI::getMemberNames(std::vector<std::string>& nameVector) const {
    NpapiBrowserHostPtr host = liveHost();
    if (!host)
        return;
    if (!host->isMainThread()) {
        std::vector<std::string> names = onMainThread(*host, [me = self()] {
            std::vector<std::string> names;
            me->getMemberNames(names);
            return names;
        });
        nameVector.insert(nameVector.end(), names.begin(), names.end());
        return;
    }
    if (is_JSAPI) {
        if (JSAPIPtr api = innerAPI())
            api->getMemberNames(nameVector);
        return;
    }
    IdentifierArray members(*host);
    if (!host->Enumerate(obj, &members.ids, &members.count) || !members.ids)
        return;
    for (uint32_t i = 0; i < members.count; ++i) {
        // Array elements come as integer identifiers: their name is the index.
        if (host->IdentifierIsString(members.ids[i]))
            nameVector.push_back(host->UTF8FromIdentifier(members.ids[i]));
        else
            nameVector.push_back(std::to_string(host->IntFromIdentifier(members.ids[i])));
    }
}

size_t NPObjectAPI::getMemberCount() const {
    NpapiBrowserHostPtr host = liveHost();
    if (!host)
        return 0;
    if (!host->isMainThread())
        return onMainThread(*host, [me = self()] { return me->getMemberCount(); });
    if (is_JSAPI) {
        JSAPIPtr api = innerAPI();
        return api ? api->getMemberCount() : 0;
    }
    IdentifierArray members(*host);
    if (!host->Enumerate(obj, &members.ids, &members.count))
        return 0;
    return members.count;
}

bool NPObjectAPI::HasMethod(const std::string& methodName) const {
    NpapiBrowserHostPtr host = liveHost();
    if (!host)
        return false;
    if (!host->isMainThread())
        return onMainThread(*host, [me = self(), methodName] { return me->HasMethod(methodName); });
    if (is_JSAPI) {
        JSAPIPtr api = innerAPI();
        return api && api->HasMethod(methodName);
    }
    return host->HasMethod(obj, host->GetStringIdentifier(methodName.c_str()));
}

bool NPObjectAPI::HasProperty(int idx) const {
    NpapiBrowserHostPtr host = liveHost();
    if (!host)
        return false;
    if (!host->isMainThread())
        return onMainThread(*host, [me = self(), idx] { return me->HasProperty(idx); });
    if (is_JSAPI) {
        JSAPIPtr api = innerAPI();
        return api && api->HasProperty(idx);
    }
    return host->HasProperty(obj, host->GetIntIdentifier(idx));
}

bool NPObjectAPI::HasProperty(const std::string& propertyName) const {
    NpapiBrowserHostPtr host = liveHost();
    if (!host)
        return false;
    if (!host->isMainThread())
        return onMainThread(*host, [me = self(), propertyName] { return me->HasProperty(propertyName); });
    if (is_JSAPI) {
        JSAPIPtr api = innerAPI();
        return api && api->HasProperty(propertyName);
    }
    return host->HasProperty(obj, host->GetStringIdentifier(propertyName.c_str()));
}

bool NPObjectAPI::HasEvent(const std::string& eventName) const {
    if (!liveHost())
        return false;
    JSAPIPtr api = innerAPI();
    return api && api->HasEvent(eventName);
}

variant NPObjectAPI::GetProperty(int idx) {
    if (!liveHost())
        return variant();
    if (is_JSAPI) {
        JSAPIPtr api = innerAPI();
        return api ? api->GetProperty(idx) : variant(false);
    }
    return GetProperty(std::to_string(idx));
}

variant NPObjectAPI::GetProperty(const std::string& propertyName) {
    NpapiBrowserHostPtr host = liveHost();
    if (!host)
        return variant();
    if (!host->isMainThread())
        return onMainThread(*host, [me = self(), propertyName] { return me->GetProperty(propertyName); });
    if (is_JSAPI) {
        JSAPIPtr api = innerAPI();
        return api ? api->GetProperty(propertyName) : variant(false);
    }
    BrowserVariants result(*host, 1);
    if (!host->GetProperty(obj, host->GetStringIdentifier(propertyName.c_str()), &result[0]))
        throw script_error(propertyName);
    return host->getVariant(&result[0]);
}

void NPObjectAPI::SetProperty(int idx, const variant& value) {
    if (!liveHost())
        return;
    if (is_JSAPI) {
        if (JSAPIPtr api = innerAPI())
            api->SetProperty(idx, value);
        return;
    }
    SetProperty(std::to_string(idx), value);
}

void NPObjectAPI::SetProperty(const std::string& propertyName, const variant& value) {
    NpapiBrowserHostPtr host = liveHost();
    if (!host)
        return;
    if (!host->isMainThread()) {
        onMainThread(*host, [me = self(), propertyName, value] { me->SetProperty(propertyName, value); });
        return;
    }
    if (is_JSAPI) {
        if (JSAPIPtr api = innerAPI())
            api->SetProperty(propertyName, value);
        return;
    }
    BrowserVariants converted(*host, 1);
    host->getNPVariant(&converted[0], value);
    if (!host->SetProperty(obj, host->GetStringIdentifier(propertyName.c_str()), &converted[0]))
        throw script_error(propertyName);
}

variant NPObjectAPI::Invoke(const std::string& methodName, const VariantList& args) {
    NpapiBrowserHostPtr host = liveHost();
    if (!host)
        return variant();
    if (!host->isMainThread())
        return onMainThread(*host, [me = self(), methodName, args] { return me->Invoke(methodName, args); });
    if (is_JSAPI) {
        JSAPIPtr api = innerAPI();
        return api ? api->Invoke(methodName, args) : variant();
    }
    if (args.size() > UINT32_MAX)
        throw invalid_arguments();
    BrowserVariants converted(*host, args.size());
    for (size_t i = 0; i < args.size(); ++i)
        host->getNPVariant(&converted[i], args[i]);
    BrowserVariants result(*host, 1);
    const uint32_t count = static_cast<uint32_t>(args.size());
    const bool ok = methodName.empty()
                        ? host->InvokeDefault(obj, converted.data(), count, &result[0])
                        : host->Invoke(obj, host->GetStringIdentifier(methodName.c_str()), converted.data(), count,
                                       &result[0]);
    if (!ok)
        throw script_error(methodName);
    return host->getVariant(&result[0]);
}

}} // namespace FB::Npapi
