#pragma once
// FB::DOM::Node: typed access to a browser-side DOM object through its JSObject.
// Only what the browser host needs so far; the node, element and window operations
// proper belong with the DOM wrappers.

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

    virtual JSObjectPtr getJSObject() const { return m_element; }

    template <typename T>
    T getProperty(const std::string& name) const {
        return object()->GetProperty(name).template convert_cast<T>();
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
