#include "FakeJSObject.h"

#include "JSExceptions.h"

namespace orv { namespace test {

std::shared_ptr<FakeJSObject> FakeJSObject::create(const FB::BrowserHostPtr& host, void* eventId) {
    return std::make_shared<FakeJSObject>(host, eventId);
}

std::shared_ptr<FakeJSObject> FakeJSObject::array(const FB::VariantList& items, const FB::BrowserHostPtr& host) {
    auto object = create(host);
    object->SetProperty("length", FB::variant(static_cast<int>(items.size())));
    for (size_t i = 0; i < items.size(); ++i)
        object->SetProperty(static_cast<int>(i), items[i]);
    return object;
}

FakeJSObject::FakeJSObject(const FB::BrowserHostPtr& host, void* eventId) : FB::JSObject(host), m_eventId(eventId) {}

void FakeJSObject::setMethod(const std::string& name, Method method) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_methods[name] = std::move(method);
}

void FakeJSObject::setUnreadable(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unreadable.insert(name);
}

int FakeJSObject::propertyReads() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_propertyReads;
}

std::vector<FakeJSObject::Call> FakeJSObject::calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

void FakeJSObject::clearCalls() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

std::vector<FakeJSObject::Call> FakeJSObject::callsTo(const std::string& method) const {
    std::vector<Call> out;
    for (const Call& call : calls())
        if (call.method == method)
            out.push_back(call);
    return out;
}

void FakeJSObject::getMemberNames(std::vector<std::string>& nameVector) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    nameVector.clear();
    for (const auto& entry : m_properties)
        nameVector.push_back(entry.first);
}

size_t FakeJSObject::getMemberCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_properties.size();
}

bool FakeJSObject::HasMethod(const std::string& methodName) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_methods.count(methodName) != 0;
}

bool FakeJSObject::HasProperty(int idx) const {
    return HasProperty(std::to_string(idx));
}

bool FakeJSObject::HasProperty(const std::string& propertyName) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_properties.count(propertyName) != 0;
}

FB::variant FakeJSObject::GetProperty(int idx) {
    return GetProperty(std::to_string(idx));
}

FB::variant FakeJSObject::GetProperty(const std::string& propertyName) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_propertyReads;
    if (m_unreadable.count(propertyName) != 0)
        throw FB::script_error(propertyName);
    auto it = m_properties.find(propertyName);
    return it == m_properties.end() ? FB::variant() : it->second;
}

void FakeJSObject::SetProperty(int idx, const FB::variant& value) {
    SetProperty(std::to_string(idx), value);
}

void FakeJSObject::SetProperty(const std::string& propertyName, const FB::variant& value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_properties[propertyName] = value;
}

FB::variant FakeJSObject::Invoke(const std::string& methodName, const FB::VariantList& args) {
    Method method;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(Call{methodName, args, std::this_thread::get_id()});
        auto it = m_methods.find(methodName);
        if (it != m_methods.end())
            method = it->second;
    }
    return method ? method(args) : FB::variant();
}

}} // namespace orv::test
