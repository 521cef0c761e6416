#pragma once
// FB::DOM::Document: the page's document, itself an element of the page.

#include "DOMElement.h"

namespace FB { namespace DOM {

class Document : public Element {
public:
    explicit Document(const JSObjectPtr& element) : Node(element), Element(element) {}

    static DocumentPtr create(const JSObjectPtr& api);

    virtual WindowPtr getWindow() const;
    virtual ElementPtr getBody() const;
};

}} // namespace FB::DOM
