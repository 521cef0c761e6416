#pragma once
// FB::DOM::Document: the page's document, itself an element of the page.

#include "DOMElement.h"

namespace FB { namespace DOM {

class Document : public Element {
public:
    explicit Document(const JSObjectPtr& element) : Node(element), Element(element) {}
};

}} // namespace FB::DOM
