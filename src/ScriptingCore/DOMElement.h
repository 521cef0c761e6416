#pragma once
// FB::DOM::Element: a page element: its markup, its size and its place in the tree.

#include "DOMNode.h"

#include <string>
#include <vector>

namespace FB { namespace DOM {

class Element : public virtual Node {
public:
    explicit Element(const JSObjectPtr& element) : Node(element) {}

    static ElementPtr create(const JSObjectPtr& api);

    virtual std::string getInnerHTML() const;
    virtual void setInnerHTML(const std::string& html) const;
    virtual int getWidth() const;
    virtual void setWidth(int width) const;
    virtual int getScrollWidth() const;
    virtual int getHeight() const;
    virtual void setHeight(int height) const;
    virtual int getScrollHeight() const;
    virtual int getChildNodeCount() const;
    virtual ElementPtr getChildNode(int idx) const;
    virtual ElementPtr getParentNode() const;
    virtual ElementPtr getElement(int idx) const;
    virtual ElementPtr getElement(const std::string& name) const;
    virtual std::string getStringAttribute(const std::string& attr) const;
    virtual ElementPtr getElementById(const std::string& elem_id) const;
    virtual std::vector<ElementPtr> getElementsByTagName(const std::wstring& tagName) const;
    virtual std::vector<ElementPtr> getElementsByTagName(const std::string& tagName) const;
};

}} // namespace FB::DOM
