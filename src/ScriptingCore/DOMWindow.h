#pragma once
// FB::DOM::Window: the page's window. Its own operations belong with the DOM wrappers.

#include "DOMNode.h"

namespace FB { namespace DOM {

class Window : public virtual Node {
public:
    explicit Window(const JSObjectPtr& element) : Node(element) {}
};

}} // namespace FB::DOM
