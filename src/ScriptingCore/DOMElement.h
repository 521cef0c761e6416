#pragma once
// FB::DOM::Element: a page element. Its own operations belong with the DOM wrappers.

#include "DOMNode.h"

namespace FB { namespace DOM {

class Element : public virtual Node {
public:
    explicit Element(const JSObjectPtr& element) : Node(element) {}
};

}} // namespace FB::DOM
