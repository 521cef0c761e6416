#pragma once
// FB::JSAPIAuto: the ready-made plug-in-side scriptable object. Members are registered by
// name at run time (methods as CallMethodFunctor, properties as getter/setter pairs,
// attributes as plain values) and every query is answered from those registries under the
// object's zone mutex.

#include "JSAPI.h"
#include "MethodConverter.h"
#include "PropertyFunctors.h"

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace FB {

class JSAPIAuto : public JSAPI {
public:
    struct Attribute {
        variant value;
        bool readonly;
    };

    explicit JSAPIAuto(const std::string& description = "<JSAPI-Auto Javascript Object>");
    JSAPIAuto(const SecurityZone& securityLevel,
              const std::string& description = "<JSAPI-Auto Javascript Object>");
    ~JSAPIAuto() override;

    using JSAPI::getMemberNames;
    using JSAPI::HasMethod;
    using JSAPI::HasMethodObject;
    using JSAPI::HasProperty;
    using JSAPI::GetMethodObject;
    using JSAPI::GetProperty;
    using JSAPI::SetProperty;
    using JSAPI::Invoke;

    void getMemberNames(std::vector<std::string>& nameVector) const override;
    size_t getMemberCount() const override;
    bool HasMethod(const std::string& methodName) const override;
    bool HasMethodObject(const std::string& methodObjName) const override;
    bool HasProperty(int idx) const override;
    bool HasProperty(const std::string& propertyName) const override;
    JSAPIPtr GetMethodObject(const std::string& methodObjName) override;
    variant GetProperty(int idx) override;
    variant GetProperty(const std::string& propertyName) override;
    void SetProperty(int idx, const variant& value) override;
    void SetProperty(const std::string& propertyName, const variant& value) override;
    variant Invoke(const std::string& methodName, const VariantList& args) override;

    virtual void registerAttribute(const std::string& name, const variant& value, bool readonly = false);
    // A reserved name is never captured by a dynamic attribute (the browser asks for such
    // names itself and must get "no such property").
    virtual void setReserved(const std::string& name);
    virtual void unregisterMethod(const std::string& name);
    virtual void unregisterMethod(const std::wstring& name);
    virtual void registerMethod(const std::string& name, const CallMethodFunctor& func);
    virtual void registerMethod(const std::wstring& name, const CallMethodFunctor& func);
    virtual void registerProperty(const std::string& name, const PropertyFunctors& propFuncs);
    virtual void registerProperty(const std::wstring& name, const PropertyFunctors& propFuncs);
    virtual void unregisterProperty(const std::string& name);
    virtual void unregisterProperty(const std::wstring& name);
    virtual std::string ToString();
    virtual bool get_valid();
    virtual variant getAttribute(const std::string& name);
    virtual void setAttribute(const std::string& name, const variant& value);

protected:
    using MethodObjectMap = std::map<std::pair<std::string, SecurityZone>, JSFunctionPtr>;
    // Looked up on every script call, never walked in order.
    using MethodFunctorMap = std::unordered_map<std::string, CallMethodFunctor>;
    using PropertyFunctorsMap = std::map<std::string, PropertyFunctors>;
    using ZoneMap = std::map<std::string, SecurityZone>;
    using AttributeMap = std::map<std::string, Attribute>;
    using StringSet = std::set<std::string>;

    // The member is registered and the current zone may see it. Caller holds the zone mutex.
    bool memberAccessible(const std::string& name) const;
    bool isReserved(const std::string& name) const { return m_reservedMembers.count(name) != 0; }

    MethodObjectMap m_methodObjectMap;
    MethodFunctorMap m_methodFunctorMap;
    PropertyFunctorsMap m_propertyFunctorsMap;
    ZoneMap m_zoneMap;
    std::string m_description;
    AttributeMap m_attributes;
    StringSet m_reservedMembers;
    bool m_allowDynamicAttributes;
    bool m_allowMethodObjects;

private:
    void registerBuiltins();
};

} // namespace FB
