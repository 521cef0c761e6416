#pragma once
// FB::DOM::Node: typed access to a browser-side DOM object through its JSObject. Every
// operation is a property read, a property write or a method call on that object, with
// results converted by the variant rules. Wrappers are made by the object's browser host
// (create), so an adapter can hand out richer wrappers of its own.
//
// A wrapper may hold a null object (a missing property read as an object gives one); its
// operations then raise FB::script_error instead of touching anything.

#include "JSExceptions.h"
#include "JSObject.h"

#include <memory>
#include <string>

namespace FB { namespace DOM {

class Node : public std::enable_shared_from_this<Node> {
public:
    explicit Node(const JSObjectPtr& element) : m_element(element) {}
    virtual ~Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // The host's wrapper for the object; std::bad_weak_ptr when the object's host is gone.
    static NodePtr create(const JSObjectPtr& api);

    virtual JSObjectPtr getJSObject() const { return m_element; }
    virtual NodePtr getNode(int idx) const;
    virtual NodePtr getNode(const std::string& name) const;
    virtual NodePtr getNode(const std::wstring& name) const;
    virtual void setProperty(int idx, const variant& value) const;
    virtual void setProperty(const std::string& name, const variant& value) const;
    virtual void setProperty(const std::wstring& name, const variant& value) const;

    template <typename T>
    T getProperty(const std::string& name) const {
        return object()->GetProperty(name).template convert_cast<T>();
    }
    template <typename T>
    T getProperty(int idx) const {
        return object()->GetProperty(idx).template convert_cast<T>();
    }
    template <typename T>
    T callMethod(const std::string& name, const VariantList& args) const {
        return object()->Invoke(name, args).template convert_cast<T>();
    }

protected:
    // Never touch a missing browser object.
    const JSObjectPtr& object() const {
        if (!m_element)
            throw script_error("The DOM object is not available");
        return m_element;
    }

    JSObjectPtr m_element;
};

}} // namespace FB::DOM
