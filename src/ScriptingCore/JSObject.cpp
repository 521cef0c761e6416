#include "JSObject.h"

#include "BrowserHost.h"

#include <stdexcept>

namespace FB {

JSObject::JSObject(const BrowserHostPtr& host) : m_host(host) {}

JSObject::~JSObject() = default;

BrowserHostPtr JSObject::getHost() const {
    return BrowserHostPtr(m_host);
}

void JSObject::InvokeAsync(const std::string& methodName, const VariantList& args) {
    BrowserHostPtr host = m_host.lock();
    if (!host)
        throw std::runtime_error("Cannot invoke asynchronously");
    auto self = std::static_pointer_cast<JSObject>(shared_from_this());
    JSObject* target = self.get();
    host->ScheduleOnMainThread(self, [target, methodName, args]() { target->Invoke(methodName, args); });
}

void JSObject::SetPropertyAsync(const std::string& propertyName, const variant& value) {
    BrowserHostPtr host = m_host.lock();
    if (!host)
        throw std::runtime_error("Cannot invoke asynchronously");
    auto self = std::static_pointer_cast<JSObject>(shared_from_this());
    JSObject* target = self.get();
    host->ScheduleOnMainThread(self,
                               [target, propertyName, value]() { target->SetProperty(propertyName, value); });
}

} // namespace FB
