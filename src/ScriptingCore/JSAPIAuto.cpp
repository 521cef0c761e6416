#include "JSAPIAuto.h"

#include "JSFunction.h"
#include "utf8_tools.h"

#include <boost/numeric/conversion/converter_policies.hpp>

#include <mutex>
#include <string>

namespace FB {

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Names a browser probes on any object; a dynamic attribute must not answer for them.
const char* const kReservedNames[] = {"offsetWidth", "offsetHeight", "width",       "height",
                                      "attributes",  "nodeType",     "namespaceURI", "localName",
                                      "wrappedJSObject", "prototype", "style",      "id",
                                      "constructor"};

// Runs a registered member. A value that cannot be converted, wherever the member found
// out, ends the call as invalid_arguments: only script errors may reach the page (anything
// else thrown through a browser's callback ends the browser).
template <typename Member>
auto runMember(const Member& member) -> decltype(member()) {
    try {
        return member();
    } catch (const bad_variant_cast& e) {
        throw invalid_arguments("Could not convert from " + e.from + " to " + e.to);
    } catch (const boost::numeric::bad_numeric_cast& e) {
        throw invalid_arguments(std::string("Could not convert a number: ") + e.what());
    } catch (const text_conversion_error& e) {
        throw invalid_arguments(std::string("Could not convert text: ") + e.what());
    }
}

} // namespace

JSAPIAuto::JSAPIAuto(const std::string& description)
    : m_description(description), m_allowDynamicAttributes(true), m_allowMethodObjects(true) {
    registerBuiltins();
}

JSAPIAuto::JSAPIAuto(const SecurityZone& securityLevel, const std::string& description)
    : JSAPI(securityLevel), m_description(description), m_allowDynamicAttributes(true),
      m_allowMethodObjects(true) {
    registerBuiltins();
}

JSAPIAuto::~JSAPIAuto() = default;

void JSAPIAuto::registerBuiltins() {
    scoped_zonelock zone(this, SecurityScope_Public);
    registerMethod("toString", make_method(this, &JSAPIAuto::ToString));
    registerMethod("getAttribute", make_method(this, &JSAPIAuto::getAttribute));
    registerMethod("setAttribute", make_method(this, &JSAPIAuto::setAttribute));
    registerProperty("value", make_property(this, &JSAPIAuto::ToString));
    registerProperty("valid", make_property(this, &JSAPIAuto::get_valid));
    for (const char* name : kReservedNames)
        setReserved(name);
}

bool JSAPIAuto::memberAccessible(const std::string& name) const {
    auto it = m_zoneMap.find(name);
    // The zone stack read directly: the caller holds its mutex, and every script call
    // comes here several times.
    return it != m_zoneMap.end() && m_zoneStack.back() >= it->second;
}

void JSAPIAuto::getMemberNames(std::vector<std::string>& nameVector) const {
    Lock lock(m_zoneMutex);
    nameVector.clear();
    const SecurityZone zone = getZone();
    for (const auto& entry : m_zoneMap) {
        if (entry.second <= zone)
            nameVector.push_back(entry.first);
    }
}

size_t JSAPIAuto::getMemberCount() const {
    Lock lock(m_zoneMutex);
    const SecurityZone zone = getZone();
    size_t count = 0;
    for (const auto& entry : m_zoneMap) {
        if (entry.second <= zone)
            ++count;
    }
    return count;
}

bool JSAPIAuto::HasMethod(const std::string& methodName) const {
    if (!m_valid)
        return false;
    Lock lock(m_zoneMutex);
    return m_methodFunctorMap.find(methodName) != m_methodFunctorMap.end() && memberAccessible(methodName);
}

bool JSAPIAuto::HasMethodObject(const std::string& methodObjName) const {
    return m_allowMethodObjects && HasMethod(methodObjName);
}

bool JSAPIAuto::HasProperty(const std::string& propertyName) const {
    if (!m_valid)
        return false;
    Lock lock(m_zoneMutex);
    if (m_allowDynamicAttributes && !HasMethod(propertyName) && !isReserved(propertyName))
        return true;
    if (m_allowMethodObjects && HasMethod(propertyName) && memberAccessible(propertyName))
        return true;
    if (m_propertyFunctorsMap.find(propertyName) != m_propertyFunctorsMap.end())
        return true;
    return m_attributes.find(propertyName) != m_attributes.end();
}

bool JSAPIAuto::HasProperty(int idx) const {
    if (!m_valid)
        return false;
    Lock lock(m_zoneMutex);
    if (m_allowDynamicAttributes)
        return true;
    return m_attributes.find(std::to_string(idx)) != m_attributes.end();
}

variant JSAPIAuto::Invoke(const std::string& methodName, const VariantList& args) {
    if (!m_valid)
        throw object_invalidated();
    Lock lock(m_zoneMutex);
    auto it = m_methodFunctorMap.find(methodName);
    if (!memberAccessible(methodName) || it == m_methodFunctorMap.end())
        throw invalid_member(methodName);
    // A copy runs: the method may unregister or replace itself, which destroys the stored
    // one while it runs.
    const CallMethodFunctor method = it->second;
    return runMember([&] { return method(args); });
}

variant JSAPIAuto::GetProperty(const std::string& propertyName) {
    if (!m_valid)
        throw object_invalidated();
    Lock lock(m_zoneMutex);
    auto prop = m_propertyFunctorsMap.find(propertyName);
    if (prop != m_propertyFunctorsMap.end() && memberAccessible(propertyName)) {
        const GetPropFunctor getter = prop->second.get;  // a copy, as in Invoke
        return runMember(getter);
    }
    if (!memberAccessible(propertyName)) {
        if (m_allowDynamicAttributes)
            return variant();
        throw invalid_member(propertyName);
    }
    if (HasMethodObject(propertyName))
        return variant(GetMethodObject(propertyName));
    auto attr = m_attributes.find(propertyName);
    if (attr != m_attributes.end())
        return attr->second.value;
    if (m_allowDynamicAttributes)
        return variant();
    throw invalid_member(propertyName);
}

variant JSAPIAuto::GetProperty(int idx) {
    if (!m_valid)
        throw object_invalidated();
    Lock lock(m_zoneMutex);
    const std::string key = std::to_string(idx);
    auto attr = m_attributes.find(key);
    if (attr != m_attributes.end() && memberAccessible(key))
        return attr->second.value;
    if (m_allowDynamicAttributes)
        return variant();
    throw invalid_member(key);
}

void JSAPIAuto::SetProperty(const std::string& propertyName, const variant& value) {
    if (!m_valid)
        throw object_invalidated();
    Lock lock(m_zoneMutex);
    auto prop = m_propertyFunctorsMap.find(propertyName);
    if (prop == m_propertyFunctorsMap.end()) {
        if (!m_allowDynamicAttributes) {
            auto attr = m_attributes.find(propertyName);
            if (attr == m_attributes.end() || attr->second.readonly)
                throw invalid_member(propertyName);
        }
        registerAttribute(propertyName, value, false);
        return;
    }
    if (!memberAccessible(propertyName))
        throw invalid_member(propertyName);
    const SetPropFunctor setter = prop->second.set;  // a copy, as in Invoke
    runMember([&] { setter(value); });
}

void JSAPIAuto::SetProperty(int idx, const variant& value) {
    if (!m_valid)
        throw object_invalidated();
    Lock lock(m_zoneMutex);
    const std::string key = std::to_string(idx);
    if (!m_allowDynamicAttributes) {
        auto attr = m_attributes.find(key);
        if (attr == m_attributes.end() || attr->second.readonly)
            throw invalid_member(key);
    }
    registerAttribute(key, value, false);
}

JSAPIPtr JSAPIAuto::GetMethodObject(const std::string& methodObjName) {
    if (!m_valid)
        throw object_invalidated();
    Lock lock(m_zoneMutex);
    if (!memberAccessible(methodObjName) || m_methodFunctorMap.find(methodObjName) == m_methodFunctorMap.end())
        throw invalid_member(methodObjName);
    const SecurityZone zone = m_zoneStack.back();  // under the zone mutex, as in memberAccessible
    const auto key = std::make_pair(methodObjName, zone);
    auto cached = m_methodObjectMap.find(key);
    if (cached != m_methodObjectMap.end())
        return cached->second;
    auto function = std::make_shared<JSFunction>(JSAPIWeakPtr(shared_from_this()), methodObjName, zone);
    m_methodObjectMap.emplace(key, function);
    return function;
}

void JSAPIAuto::registerAttribute(const std::string& name, const variant& value, bool readonly) {
    Lock lock(m_zoneMutex);
    m_attributes[name] = Attribute{value, readonly};
    m_zoneMap[name] = getZone();
}

void JSAPIAuto::setReserved(const std::string& name) {
    Lock lock(m_zoneMutex);
    m_reservedMembers.insert(name);
}

void JSAPIAuto::unregisterMethod(const std::string& name) {
    Lock lock(m_zoneMutex);
    auto it = m_methodFunctorMap.find(name);
    if (it == m_methodFunctorMap.end())
        return;
    m_methodFunctorMap.erase(it);
    m_zoneMap.erase(name);
}

void JSAPIAuto::unregisterMethod(const std::wstring& name) {
    unregisterMethod(wstring_to_utf8(name));
}

void JSAPIAuto::registerMethod(const std::string& name, const CallMethodFunctor& func) {
    Lock lock(m_zoneMutex);
    m_methodFunctorMap[name] = func;
    m_zoneMap[name] = getZone();
}

void JSAPIAuto::registerMethod(const std::wstring& name, const CallMethodFunctor& func) {
    registerMethod(wstring_to_utf8(name), func);
}

void JSAPIAuto::registerProperty(const std::string& name, const PropertyFunctors& propFuncs) {
    Lock lock(m_zoneMutex);
    m_propertyFunctorsMap[name] = propFuncs;
    m_zoneMap[name] = getZone();
}

void JSAPIAuto::registerProperty(const std::wstring& name, const PropertyFunctors& propFuncs) {
    registerProperty(wstring_to_utf8(name), propFuncs);
}

void JSAPIAuto::unregisterProperty(const std::string& name) {
    Lock lock(m_zoneMutex);
    auto it = m_propertyFunctorsMap.find(name);
    if (it == m_propertyFunctorsMap.end())
        return;
    m_propertyFunctorsMap.erase(it);
    m_zoneMap.erase(name);
}

void JSAPIAuto::unregisterProperty(const std::wstring& name) {
    unregisterProperty(wstring_to_utf8(name));
}

std::string JSAPIAuto::ToString() {
    return m_description;
}

bool JSAPIAuto::get_valid() {
    return true;
}

variant JSAPIAuto::getAttribute(const std::string& name) {
    Lock lock(m_zoneMutex);
    auto attr = m_attributes.find(name);
    return attr == m_attributes.end() ? variant() : attr->second.value;
}

void JSAPIAuto::setAttribute(const std::string& name, const variant& value) {
    // The registries are shared with other threads; the recursive mutex costs nothing when
    // this runs as the script method "setAttribute" (Invoke already holds it).
    Lock lock(m_zoneMutex);
    auto attr = m_attributes.find(name);
    if (attr != m_attributes.end() && attr->second.readonly)
        throw script_error("Cannot set read-only property " + name);
    m_attributes[name] = Attribute{value, false};
    m_zoneMap[name] = getZone();
}

} // namespace FB
