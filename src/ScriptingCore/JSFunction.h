#pragma once
// FB::JSFunction: the script-visible object for one method of a JSAPIAuto. Calling it
// (Invoke with the empty name) calls the method on its owner in the zone the function was
// handed out in. It holds the owner weakly: the owner caches its method objects.

#include "JSAPIAuto.h"

#include <string>

namespace FB {

class JSFunction : public JSAPIAuto {
public:
    JSFunction(const JSAPIWeakPtr& obj, const std::string& methodName, const SecurityZone& securityLevel);
    ~JSFunction() override;

    using JSAPIAuto::HasMethod;
    using JSAPIAuto::Invoke;

    bool HasMethod(const std::string& methodName) const override;
    variant Invoke(const std::string& methodName, const VariantList& args) override;

    // script_error "Invalid JSAPI object" when the owner has gone.
    virtual variant call(const VariantList& args);

protected:
    JSAPIWeakPtr m_apiWeak;
    std::string m_methodName;
};

} // namespace FB
