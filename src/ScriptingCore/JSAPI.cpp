#include "JSAPI.h"

#include "JSObject.h"
#include "logging.h"
#include "utf8_tools.h"

#include <algorithm>
#include <exception>

namespace FB {

namespace {

// The value a proxy re-fires: references to the original object become the proxy, also
// inside lists and maps, so handlers see the object they registered with.
variant proxiedValue(const variant& value, const JSAPI* original, const JSAPIPtr& proxy) {
    if (value.is_of_type<JSAPIPtr>()) {
        if (value.cast<JSAPIPtr>().get() == original)
            return variant(proxy);
        return value;
    }
    if (value.is_of_type<VariantList>()) {
        VariantList out;
        for (const variant& item : value.cast<VariantList>())
            out.push_back(proxiedValue(item, original, proxy));
        return variant(out);
    }
    if (value.is_of_type<VariantMap>()) {
        VariantMap out;
        for (const auto& entry : value.cast<VariantMap>())
            out.emplace(entry.first, proxiedValue(entry.second, original, proxy));
        return variant(out);
    }
    return value;
}

VariantList proxiedList(const VariantList& args, const JSAPI* original, const JSAPIPtr& proxy) {
    VariantList out;
    out.reserve(args.size());
    for (const variant& item : args)
        out.push_back(proxiedValue(item, original, proxy));
    return out;
}

VariantMap proxiedMap(const VariantMap& members, const JSAPI* original, const JSAPIPtr& proxy) {
    VariantMap out;
    for (const auto& entry : members)
        out.emplace(entry.first, proxiedValue(entry.second, original, proxy));
    return out;
}

// Event delivery runs on any thread; a handler whose browser went away must not stop the
// others from hearing the event, nor escape into the firing thread.
void invokeHandler(const JSObjectPtr& handler, const std::string& method, const VariantList& args) {
    try {
        handler->InvokeAsync(method, args);
    } catch (const std::exception& e) {
        FBLOG_WARN("JSAPI", "Event handler could not be called: " << e.what());
    }
}

} // namespace

JSAPI::JSAPI() : JSAPI(SecurityScope_Public) {}

JSAPI::JSAPI(const SecurityZone& securityLevel) : m_valid(true) {
    m_zoneStack.push_back(securityLevel);
    registerEvent("onload");
}

JSAPI::~JSAPI() = default;

void JSAPI::invalidate() {
    m_valid = false;
}

std::vector<JSAPIPtr> JSAPI::liveProxies() {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    std::vector<JSAPIPtr> live;
    for (auto it = m_proxies.begin(); it != m_proxies.end();) {
        if (JSAPIPtr proxy = it->lock()) {
            live.push_back(proxy);
            ++it;
        } else {
            it = m_proxies.erase(it);
        }
    }
    return live;
}

void JSAPI::FireEvent(const std::string& eventName, const VariantList& args) {
    if (!m_valid)
        return;
    for (const JSAPIPtr& proxy : liveProxies())
        proxy->FireEvent(eventName, proxiedList(args, this, proxy));
    fireAsyncEvent(eventName, args);
}

void JSAPI::FireEvent(const std::wstring& eventName, const VariantList& args) {
    FireEvent(wstring_to_utf8(eventName), args);
}

void JSAPI::FireJSEvent(const std::string& eventName, const VariantList& args) {
    FireJSEvent(eventName, VariantMap(), args);
}

void JSAPI::FireJSEvent(const std::string& eventName, const VariantMap& members) {
    FireJSEvent(eventName, members, VariantList());
}

void JSAPI::FireJSEvent(const std::string& eventName, const VariantMap& members,
                        const VariantList& args) {
    if (!m_valid)
        return;
    for (const JSAPIPtr& proxy : liveProxies())
        proxy->FireJSEvent(eventName, proxiedMap(members, this, proxy), proxiedList(args, this, proxy));

    const JSAPIPtr self = shared_from_this();
    VariantMap event;
    event["type"] = eventName;
    event["target"] = self;
    event["currentTarget"] = self;
    event["eventPhase"] = int(2);
    event["bubbles"] = false;
    event["cancelable"] = false;
    event["namespaceURI"] = eventName;
    for (const auto& member : members)
        event.insert(member);  // keeps the standard fields above
    event["arguments"] = args;
    fireAsyncEvent(eventName, VariantList{variant(event)});
}

void JSAPI::fireAsyncEvent(const std::string& eventName, const VariantList& args) {
    std::vector<JSObjectPtr> handlers;
    JSObjectPtr defaultHandler;
    std::vector<JSObjectPtr> interfaces;
    {
        // Copies: handlers are called without the lock, and may (un)register others.
        std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
        auto range = m_eventMap.equal_range(eventName);
        for (auto it = range.first; it != range.second; ++it)
            handlers.push_back(it->second);
        auto def = m_defEventMap.find(eventName);
        if (def != m_defEventMap.end())
            defaultHandler = def->second;
        for (const auto& entry : m_evtIfaces)
            interfaces.push_back(entry.second);
    }
    for (const JSObjectPtr& handler : handlers)
        invokeHandler(handler, "", args);
    if (defaultHandler && defaultHandler->getEventId() != nullptr)
        invokeHandler(defaultHandler, "", args);
    for (const JSObjectPtr& iface : interfaces)
        invokeHandler(iface, eventName, args);
}

void JSAPI::pushZone(const SecurityZone& securityLevel) {
    m_zoneMutex.lock();  // released by the matching popZone
    m_zoneStack.push_back(securityLevel);
}

void JSAPI::popZone() {
    m_zoneStack.pop_back();
    m_zoneMutex.unlock();
}

void JSAPI::setDefaultZone(const SecurityZone& securityLevel) {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    m_zoneStack.front() = securityLevel;
}

SecurityZone JSAPI::getDefaultZone() const {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    return m_zoneStack.front();
}

SecurityZone JSAPI::getZone() const {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    return m_zoneStack.back();
}

void JSAPI::registerEvent(const std::wstring& name) {
    registerEvent(wstring_to_utf8(name));
}

void JSAPI::registerEvent(const std::string& name) {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    m_defEventMap.emplace(name, JSObjectPtr());
}

void JSAPI::registerEventMethod(const std::wstring& name, const JSObjectPtr& event) {
    registerEventMethod(wstring_to_utf8(name), event);
}

void JSAPI::registerEventMethod(const std::string& name, const JSObjectPtr& event) {
    if (!event)
        throw invalid_arguments();
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    auto range = m_eventMap.equal_range(name);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second->getEventId() == event->getEventId())
            return;
    }
    m_eventMap.emplace(name, event);  // a multimap appends after equal keys
}

void JSAPI::unregisterEventMethod(const std::wstring& name, const JSObjectPtr& event) {
    unregisterEventMethod(wstring_to_utf8(name), event);
}

void JSAPI::unregisterEventMethod(const std::string& name, const JSObjectPtr& event) {
    if (!event)
        throw invalid_arguments();
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    auto range = m_eventMap.equal_range(name);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second->getEventId() == event->getEventId()) {
            m_eventMap.erase(it);
            return;
        }
    }
}

void JSAPI::registerEventInterface(const JSObjectPtr& event) {
    if (!event)
        throw invalid_arguments();
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    m_evtIfaces[event.get()] = event;
}

void JSAPI::unregisterEventInterface(const JSObjectPtr& event) {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    m_evtIfaces.erase(event.get());
}

JSObjectPtr JSAPI::getDefaultEventMethod(const std::string& name) const {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    auto it = m_defEventMap.find(name);
    return it == m_defEventMap.end() ? JSObjectPtr() : it->second;
}

JSObjectPtr JSAPI::getDefaultEventMethod(const std::wstring& name) const {
    return getDefaultEventMethod(wstring_to_utf8(name));
}

void JSAPI::setDefaultEventMethod(const std::wstring& name, const JSObjectPtr& event) {
    setDefaultEventMethod(wstring_to_utf8(name), event);
}

void JSAPI::setDefaultEventMethod(const std::string& name, const JSObjectPtr& event) {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    if (event)
        m_defEventMap[name] = event;
    else
        m_defEventMap.erase(name);
}

void JSAPI::getMemberNames(std::vector<std::wstring>& nameVector) const {
    std::vector<std::string> names;
    getMemberNames(names);
    for (const std::string& name : names)
        nameVector.push_back(utf8_to_wstring(name));
}

bool JSAPI::HasMethod(const std::wstring& methodName) const {
    return HasMethod(wstring_to_utf8(methodName));
}

bool JSAPI::HasMethodObject(const std::string&) const {
    return false;
}

bool JSAPI::HasMethodObject(const std::wstring& methodObjName) const {
    return HasMethodObject(wstring_to_utf8(methodObjName));
}

bool JSAPI::HasProperty(const std::wstring& propertyName) const {
    return HasProperty(wstring_to_utf8(propertyName));
}

bool JSAPI::HasEvent(const std::wstring& eventName) const {
    return HasEvent(wstring_to_utf8(eventName));
}

bool JSAPI::HasEvent(const std::string& eventName) const {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    return m_defEventMap.find(eventName) != m_defEventMap.end();
}

JSAPIPtr JSAPI::GetMethodObject(const std::string&) {
    return JSAPIPtr();
}

JSAPIPtr JSAPI::GetMethodObject(const std::wstring& methodObjName) {
    return GetMethodObject(wstring_to_utf8(methodObjName));
}

variant JSAPI::GetProperty(const std::wstring& propertyName) {
    return GetProperty(wstring_to_utf8(propertyName));
}

void JSAPI::SetProperty(const std::wstring& propertyName, const variant& value) {
    SetProperty(wstring_to_utf8(propertyName), value);
}

variant JSAPI::Invoke(const std::wstring& methodName, const VariantList& args) {
    return Invoke(wstring_to_utf8(methodName), args);
}

void JSAPI::registerProxy(const JSAPIWeakPtr& ptr) {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    m_proxies.push_back(ptr);
}

void JSAPI::unregisterProxy(const JSAPIPtr& ptr) {
    std::lock_guard<std::recursive_mutex> lock(m_zoneMutex);
    m_proxies.erase(std::remove_if(m_proxies.begin(), m_proxies.end(),
                                   [&](const JSAPIWeakPtr& entry) {
                                       JSAPIPtr live = entry.lock();
                                       return !live || live == ptr;
                                   }),
                    m_proxies.end());
}

} // namespace FB
