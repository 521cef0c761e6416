#pragma once
// A browser-side script object scripted by the test: properties are plain values, methods
// are functions the test installs, and every Invoke is recorded with its thread. It
// stands where the adapters' NPObject and IDispatch wrappers stand in production.

#include "JSObject.h"

#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace orv { namespace test {

class FakeJSObject : public FB::JSObject {
public:
    struct Call {
        std::string method;
        FB::VariantList args;
        std::thread::id thread;
    };
    using Method = std::function<FB::variant(const FB::VariantList&)>;

    // eventId: the identity of the "browser object" (two fakes with the same id count as
    // the same script function).
    static std::shared_ptr<FakeJSObject> create(const FB::BrowserHostPtr& host = nullptr,
                                                void* eventId = nullptr);
    // A script array: "length" and the indexed elements.
    static std::shared_ptr<FakeJSObject> array(const FB::VariantList& items,
                                               const FB::BrowserHostPtr& host = nullptr);

    FakeJSObject(const FB::BrowserHostPtr& host, void* eventId);

    void setMethod(const std::string& name, Method method);
    // Reading this property fails as a browser's failed read does: FB::script_error with
    // the property name as message.
    void setUnreadable(const std::string& name);
    // Property reads so far, by name and by index.
    int propertyReads() const;
    void setWrapped(const FB::JSAPIPtr& api) { m_wrapped = api; }
    std::vector<Call> calls() const;
    std::vector<Call> callsTo(const std::string& method) const;
    // Recorded arguments may refer back to the object that called this one; a test that
    // records such calls clears them to break the cycle.
    void clearCalls();

    using FB::JSAPI::getMemberNames;
    using FB::JSAPI::HasMethod;
    using FB::JSAPI::HasProperty;
    using FB::JSAPI::GetProperty;
    using FB::JSAPI::SetProperty;
    using FB::JSAPI::Invoke;

    void getMemberNames(std::vector<std::string>& nameVector) const override;
    size_t getMemberCount() const override;
    bool HasMethod(const std::string& methodName) const override;
    bool HasProperty(int idx) const override;
    bool HasProperty(const std::string& propertyName) const override;
    FB::variant GetProperty(int idx) override;
    FB::variant GetProperty(const std::string& propertyName) override;
    void SetProperty(int idx, const FB::variant& value) override;
    void SetProperty(const std::string& propertyName, const FB::variant& value) override;
    // Unknown methods answer empty; installed ones run and may throw.
    FB::variant Invoke(const std::string& methodName, const FB::VariantList& args) override;
    void* getEventId() const override { return m_eventId; }
    FB::JSAPIPtr getJSAPI() const override { return m_wrapped; }

private:
    mutable std::mutex m_mutex;
    std::map<std::string, FB::variant> m_properties;
    std::map<std::string, Method> m_methods;
    std::set<std::string> m_unreadable;
    int m_propertyReads = 0;
    std::vector<Call> m_calls;
    void* m_eventId;
    FB::JSAPIPtr m_wrapped;
};

using FakeJSObjectPtr = std::shared_ptr<FakeJSObject>;

}} // namespace orv::test
