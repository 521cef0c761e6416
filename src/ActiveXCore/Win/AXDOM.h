#pragma once
// FB::ActiveX::AXDOM: the DOM wrappers under Internet Explorer. They keep the browser's
// HTML interface of the wrapped object and use it where it answers more reliably than a
// script call; everything else is the script-based behaviour of FB::DOM.

#include "DOMDocument.h"
#include "DOMElement.h"
#include "DOMNode.h"
#include "DOMWindow.h"

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>

#include <string>

namespace FB {
namespace ActiveX {
namespace AXDOM {

// Holds one counted COM reference.
template <typename I>
class ComRef {
public:
    ComRef() = default;
    explicit ComRef(I* p) : m_p(p) {
        if (m_p)
            m_p->AddRef();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (m_p)
            m_p->Release();
    }
    I* get() const { return m_p; }
    I** out() { return &m_p; }

private:
    I* m_p = nullptr;
};

class Window : public DOM::Window {
public:
    Window(const JSObjectPtr& obj, IWebBrowser2* web);
    using DOM::Window::alert;
    DOM::DocumentPtr getDocument() const override;
    void alert(const std::string& str) const override;
    std::string getLocation() const override;

private:
    ComRef<IHTMLWindow2> m_htmlWin;
    ComRef<IWebBrowser2> m_webBrowser;
};

class Document : public DOM::Document {
public:
    Document(const JSObjectPtr& obj, IWebBrowser2* web);
    DOM::WindowPtr getWindow() const override;
    DOM::ElementPtr getElementById(const std::string& elem_id) const override;
    using DOM::Element::getElementsByTagName;
    std::vector<DOM::ElementPtr> getElementsByTagName(const std::string& tagName) const override;
    std::string getStringAttribute(const std::string& attr) const override;

private:
    ComRef<IHTMLDocument2> m_htmlDoc;
    ComRef<IWebBrowser2> m_webBrowser;
};

class Element : public DOM::Element {
public:
    explicit Element(const JSObjectPtr& obj);
    using DOM::Element::getElementsByTagName;
    std::vector<DOM::ElementPtr> getElementsByTagName(const std::string& tagName) const override;
    std::string getStringAttribute(const std::string& attr) const override;

private:
    ComRef<IDispatch> m_element;
};

class Node : public DOM::Node {
public:
    explicit Node(const JSObjectPtr& obj) : DOM::Node(obj) {}
};

} // namespace AXDOM
} // namespace ActiveX
} // namespace FB
