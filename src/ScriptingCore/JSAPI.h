#pragma once
// FB::JSAPI: the browser-neutral interface of every scriptable object, whichever side of
// the browser it lives on. It owns the security-zone stack and the event model (handlers,
// default "on" handlers, event interfaces, proxies); members are the subclasses' business.

#include "APITypes.h"
#include "JSExceptions.h"
#include "variant.h"

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace FB {

class JSAPI : public std::enable_shared_from_this<JSAPI> {
public:
    JSAPI();
    explicit JSAPI(const SecurityZone& securityLevel);
    JSAPI(const JSAPI&) = delete;
    JSAPI& operator=(const JSAPI&) = delete;
    virtual ~JSAPI();

    // The browser dropped its script wrapper of this object: from now on members fail and
    // events are not delivered. Nothing revalidates an object.
    void invalidate();
    bool isValid() const { return m_valid; }

    virtual void FireEvent(const std::string& eventName, const VariantList& args);
    virtual void FireEvent(const std::wstring& eventName, const VariantList& args);
    virtual void FireJSEvent(const std::string& eventName, const VariantList& args);
    virtual void FireJSEvent(const std::string& eventName, const VariantMap& members);
    virtual void FireJSEvent(const std::string& eventName, const VariantMap& members,
                             const VariantList& args);

    // pushZone keeps the zone mutex locked until the matching popZone, so a zone change is
    // scoped to one thread. Prefer scoped_zonelock.
    virtual void pushZone(const SecurityZone& securityLevel);
    virtual void popZone();
    virtual void setDefaultZone(const SecurityZone& securityLevel);
    virtual SecurityZone getDefaultZone() const;
    virtual SecurityZone getZone() const;

    virtual void registerEvent(const std::wstring& name);
    virtual void registerEvent(const std::string& name);
    virtual void registerEventMethod(const std::wstring& name, const JSObjectPtr& event);
    virtual void registerEventMethod(const std::string& name, const JSObjectPtr& event);
    virtual void unregisterEventMethod(const std::wstring& name, const JSObjectPtr& event);
    virtual void unregisterEventMethod(const std::string& name, const JSObjectPtr& event);
    virtual void registerEventInterface(const JSObjectPtr& event);
    virtual void unregisterEventInterface(const JSObjectPtr& event);
    virtual JSObjectPtr getDefaultEventMethod(const std::string& name) const;
    virtual JSObjectPtr getDefaultEventMethod(const std::wstring& name) const;
    virtual void setDefaultEventMethod(const std::wstring& name, const JSObjectPtr& event);
    virtual void setDefaultEventMethod(const std::string& name, const JSObjectPtr& event);

    virtual void getMemberNames(std::vector<std::string>& nameVector) const = 0;
    virtual void getMemberNames(std::vector<std::wstring>& nameVector) const;
    virtual size_t getMemberCount() const = 0;

    virtual bool HasMethod(const std::string& methodName) const = 0;
    virtual bool HasMethod(const std::wstring& methodName) const;
    virtual bool HasMethodObject(const std::string& methodObjName) const;
    virtual bool HasMethodObject(const std::wstring& methodObjName) const;
    virtual bool HasProperty(int idx) const = 0;
    virtual bool HasProperty(const std::string& propertyName) const = 0;
    virtual bool HasProperty(const std::wstring& propertyName) const;
    virtual bool HasEvent(const std::wstring& eventName) const;
    virtual bool HasEvent(const std::string& eventName) const;

    virtual JSAPIPtr GetMethodObject(const std::string& methodObjName);
    virtual JSAPIPtr GetMethodObject(const std::wstring& methodObjName);
    virtual variant GetProperty(int idx) = 0;
    virtual variant GetProperty(const std::string& propertyName) = 0;
    virtual variant GetProperty(const std::wstring& propertyName);
    virtual void SetProperty(int idx, const variant& value) = 0;
    virtual void SetProperty(const std::string& propertyName, const variant& value) = 0;
    virtual void SetProperty(const std::wstring& propertyName, const variant& value);
    virtual variant Invoke(const std::string& methodName, const VariantList& args) = 0;
    virtual variant Invoke(const std::wstring& methodName, const VariantList& args);

    virtual void registerProxy(const JSAPIWeakPtr& ptr);
    virtual void unregisterProxy(const JSAPIPtr& ptr);

    // Delivery step of FireEvent: handlers, then the default handler, then interfaces.
    void fireAsyncEvent(const std::string& eventName, const VariantList& args);

protected:
    using EventMultiMap = std::multimap<std::string, JSObjectPtr>;
    using EventSingleMap = std::map<std::string, JSObjectPtr>;
    using EventIFaceMap = std::map<void*, JSObjectPtr>;
    using ProxyList = std::vector<JSAPIWeakPtr>;
    using ZoneStack = std::deque<SecurityZone>;

    EventMultiMap m_eventMap;
    EventSingleMap m_defEventMap;
    EventIFaceMap m_evtIfaces;
    ProxyList m_proxies;
    mutable std::recursive_mutex m_zoneMutex;
    ZoneStack m_zoneStack;
    std::atomic<bool> m_valid;  // read by any thread that fires events

private:
    // Live proxies in list order; expired ones are dropped from the list on the way.
    std::vector<JSAPIPtr> liveProxies();
};

// Runs a scope in another security zone: pushZone on construction, popZone on exit.
class scoped_zonelock {
public:
    scoped_zonelock(const JSAPIPtr& api, const SecurityZone& zone) : m_api(api.get()), m_ref(api) {
        m_api->pushZone(zone);
    }
    scoped_zonelock(JSAPI* api, const SecurityZone& zone) : m_api(api) { m_api->pushZone(zone); }
    ~scoped_zonelock() { m_api->popZone(); }
    scoped_zonelock(const scoped_zonelock&) = delete;
    scoped_zonelock& operator=(const scoped_zonelock&) = delete;

private:
    JSAPI* m_api;
    JSAPIPtr m_ref;
};

} // namespace FB
