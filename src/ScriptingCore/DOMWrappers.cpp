#include "BrowserHost.h"
#include "DOMDocument.h"
#include "DOMElement.h"
#include "DOMNode.h"
#include "DOMWindow.h"
#include "utf8_tools.h"

namespace FB { namespace DOM {

namespace {

// The browser host of the object; a missing object has none and gets a plain wrapper.
template <typename Wrapper, typename Make>
std::shared_ptr<Wrapper> hostWrapper(const JSObjectPtr& api, Make make) {
    if (!api)
        return std::make_shared<Wrapper>(api);
    return make(*api->getHost());
}

} // namespace

NodePtr Node::create(const JSObjectPtr& api) {
    return hostWrapper<Node>(api, [&](BrowserHost& host) { return host._createNode(api); });
}

NodePtr Node::getNode(int idx) const {
    return std::make_shared<Node>(getProperty<JSObjectPtr>(idx));
}

NodePtr Node::getNode(const std::string& name) const {
    return std::make_shared<Node>(getProperty<JSObjectPtr>(name));
}

NodePtr Node::getNode(const std::wstring& name) const {
    return getNode(wstring_to_utf8(name));
}

void Node::setProperty(int idx, const variant& value) const {
    object()->SetProperty(idx, value);
}

void Node::setProperty(const std::string& name, const variant& value) const {
    object()->SetProperty(name, value);
}

void Node::setProperty(const std::wstring& name, const variant& value) const {
    setProperty(wstring_to_utf8(name), value);
}

ElementPtr Element::create(const JSObjectPtr& api) {
    return hostWrapper<Element>(api, [&](BrowserHost& host) { return host._createElement(api); });
}

std::string Element::getInnerHTML() const {
    return getProperty<std::string>("innerHTML");
}

void Element::setInnerHTML(const std::string& html) const {
    setProperty("innerHTML", variant(html));
}

int Element::getWidth() const {
    return static_cast<int>(getProperty<long>("width"));
}

void Element::setWidth(int width) const {
    setProperty("width", variant(width));
}

int Element::getScrollWidth() const {
    return static_cast<int>(getProperty<long>("scrollWidth"));
}

int Element::getHeight() const {
    return static_cast<int>(getProperty<long>("height"));
}

void Element::setHeight(int height) const {
    setProperty("height", variant(height));
}

int Element::getScrollHeight() const {
    return static_cast<int>(getProperty<long>("scrollHeight"));
}

int Element::getChildNodeCount() const {
    return static_cast<int>(getNode("childNodes")->getProperty<long>("length"));
}

ElementPtr Element::getChildNode(int idx) const {
    return getElement("childNodes")->getElement(idx);
}

ElementPtr Element::getParentNode() const {
    return getElement("parentNode");
}

ElementPtr Element::getElement(int idx) const {
    return std::make_shared<Element>(getProperty<JSObjectPtr>(idx));
}

ElementPtr Element::getElement(const std::string& name) const {
    return std::make_shared<Element>(getProperty<JSObjectPtr>(name));
}

std::string Element::getStringAttribute(const std::string& attr) const {
    return callMethod<std::string>("getAttribute", VariantList{variant(attr)});
}

ElementPtr Element::getElementById(const std::string& elem_id) const {
    return Element::create(callMethod<JSObjectPtr>("getElementById", VariantList{variant(elem_id)}));
}

std::vector<ElementPtr> Element::getElementsByTagName(const std::wstring& tagName) const {
    return getElementsByTagName(wstring_to_utf8(tagName));
}

std::vector<ElementPtr> Element::getElementsByTagName(const std::string& tagName) const {
    const JSObjectList found = callMethod<JSObjectList>("getElementsByTagName", VariantList{variant(tagName)});
    std::vector<ElementPtr> elements;
    elements.reserve(found.size());
    for (const JSObjectPtr& element : found)
        elements.push_back(Element::create(element));
    return elements;
}

DocumentPtr Document::create(const JSObjectPtr& api) {
    return hostWrapper<Document>(api, [&](BrowserHost& host) { return host._createDocument(api); });
}

WindowPtr Document::getWindow() const {
    return Window::create(getProperty<JSObjectPtr>("window"));
}

ElementPtr Document::getBody() const {
    return Element::create(getProperty<JSObjectPtr>("body"));
}

WindowPtr Window::create(const JSObjectPtr& api) {
    return hostWrapper<Window>(api, [&](BrowserHost& host) { return host._createWindow(api); });
}

DocumentPtr Window::getDocument() const {
    return Document::create(getProperty<JSObjectPtr>("document"));
}

void Window::alert(const std::wstring& str) const {
    alert(wstring_to_utf8(str));
}

void Window::alert(const std::string& str) const {
    object()->Invoke("alert", VariantList{variant(str)});
}

JSObjectPtr Window::createArray() const {
    return callMethod<JSObjectPtr>("Array", VariantList());
}

JSObjectPtr Window::createMap() const {
    return callMethod<JSObjectPtr>("Object", VariantList());
}

std::string Window::getLocation() const {
    return getNode("location")->getProperty<std::string>("href");
}

}} // namespace FB::DOM
