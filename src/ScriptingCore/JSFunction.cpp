#include "JSFunction.h"

namespace FB {

JSFunction::JSFunction(const JSAPIWeakPtr& obj, const std::string& methodName, const SecurityZone& securityLevel)
    : JSAPIAuto(securityLevel), m_apiWeak(obj), m_methodName(methodName) {}

JSFunction::~JSFunction() = default;

bool JSFunction::HasMethod(const std::string& methodName) const {
    if (methodName.empty())
        return true;
    return JSAPIAuto::HasMethod(methodName);
}

variant JSFunction::Invoke(const std::string& methodName, const VariantList& args) {
    if (methodName.empty())
        return call(args);
    return JSAPIAuto::Invoke(methodName, args);
}

variant JSFunction::call(const VariantList& args) {
    JSAPIPtr owner = m_apiWeak.lock();
    if (!owner)
        throw script_error("Invalid JSAPI object");
    // The method runs with the rights of the zone the function was handed out in.
    scoped_zonelock zone(owner, getDefaultZone());
    return owner->Invoke(m_methodName, args);
}

} // namespace FB
