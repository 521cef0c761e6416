#pragma once
// FB::DOM::Window: the page's window.

#include "DOMNode.h"

#include <string>

namespace FB { namespace DOM {

class Window : public virtual Node {
public:
    explicit Window(const JSObjectPtr& element) : Node(element) {}

    static WindowPtr create(const JSObjectPtr& api);

    virtual DocumentPtr getDocument() const;
    virtual void alert(const std::wstring& str) const;
    virtual void alert(const std::string& str) const;
    // New script objects made by the page's own constructors.
    virtual JSObjectPtr createArray() const;
    virtual JSObjectPtr createMap() const;
    virtual std::string getLocation() const;
};

}} // namespace FB::DOM
