// The DOM wrappers over fake script objects: each operation as the property reads, writes
// and calls it makes, the conversions of their results, the host's own wrappers, and
// wrappers whose object or host is missing.

#include "DOMDocument.h"
#include "DOMElement.h"
#include "DOMWindow.h"
#include "FakeJSObject.h"
#include "TestBrowserHost.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using orv::test::FakeJSObject;
using orv::test::FakeJSObjectPtr;
using orv::test::MainThreadQueue;
using orv::test::TestBrowserHost;

// A host that hands out wrappers of its own, as the ActiveX adapter does.
class RicherElement : public FB::DOM::Element {
public:
    explicit RicherElement(const FB::JSObjectPtr& obj) : FB::DOM::Node(obj), FB::DOM::Element(obj) {}
};

class WrappingHost : public TestBrowserHost {
public:
    using TestBrowserHost::TestBrowserHost;
    FB::DOM::ElementPtr _createElement(const FB::JSObjectPtr& obj) const override {
        return std::make_shared<RicherElement>(obj);
    }
};

class DOMWrappers : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = queue_.run([this] { return std::make_shared<WrappingHost>(queue_); });
    }
    FakeJSObjectPtr object() { return FakeJSObject::create(host_); }
    static FB::variant ref(const FakeJSObjectPtr& o) { return FB::variant(FB::JSObjectPtr(o)); }

    MainThreadQueue queue_;
    std::shared_ptr<WrappingHost> host_;
};

TEST_F(DOMWrappers, SizesReadThroughTheIntegerRule) {
    auto element = object();
    FB::DOM::Element wrapper(element);
    element->SetProperty("width", FB::variant("100"));
    element->SetProperty("height", FB::variant(20.75));
    element->SetProperty("scrollWidth", FB::variant(7));
    EXPECT_EQ(wrapper.getWidth(), 100);
    EXPECT_EQ(wrapper.getHeight(), 20);
    EXPECT_EQ(wrapper.getScrollWidth(), 7);
    element->SetProperty("width", FB::variant("wide"));
    EXPECT_THROW(wrapper.getWidth(), FB::bad_variant_cast);

    wrapper.setWidth(640);
    wrapper.setHeight(480);
    EXPECT_EQ(element->GetProperty("width").convert_cast<long>(), 640);
    EXPECT_EQ(element->GetProperty("height").convert_cast<long>(), 480);
}

TEST_F(DOMWrappers, WindowCallsPassExactlyTheirArguments) {
    auto window = object();
    FB::DOM::Window wrapper(window);
    auto array = object();
    auto map = object();
    window->setMethod("Array", [&](const FB::VariantList&) { return ref(array); });
    window->setMethod("Object", [&](const FB::VariantList&) { return ref(map); });

    wrapper.alert("hello");
    wrapper.alert(L"\u043f\u0440\u0438\u0432\u0435\u0442");
    EXPECT_EQ(wrapper.createArray(), array);
    EXPECT_EQ(wrapper.createMap(), map);

    const auto calls = window->calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].method, "alert");
    ASSERT_EQ(calls[0].args.size(), 1u);
    EXPECT_EQ(calls[0].args[0].cast<std::string>(), "hello");
    ASSERT_EQ(calls[1].args.size(), 1u);
    EXPECT_EQ(calls[1].args[0].cast<std::string>(), "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
    EXPECT_EQ(calls[2].method, "Array");
    EXPECT_TRUE(calls[2].args.empty());
    EXPECT_EQ(calls[3].method, "Object");
    EXPECT_TRUE(calls[3].args.empty());
}

TEST_F(DOMWrappers, WindowDocumentBodyAndLocation) {
    auto window = object();
    auto document = object();
    auto body = object();
    auto location = object();
    window->SetProperty("document", ref(document));
    window->SetProperty("location", ref(location));
    document->SetProperty("window", ref(window));
    document->SetProperty("body", ref(body));
    location->SetProperty("href", FB::variant("file:///page.html"));

    FB::DOM::Window wrapper(window);
    FB::DOM::DocumentPtr doc = wrapper.getDocument();
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->getJSObject(), document);
    EXPECT_EQ(doc->getWindow()->getJSObject(), window);
    FB::DOM::ElementPtr bodyWrapper = doc->getBody();
    EXPECT_EQ(bodyWrapper->getJSObject(), body);
    EXPECT_TRUE(std::dynamic_pointer_cast<RicherElement>(bodyWrapper)) << "the host's own wrapper";
    EXPECT_EQ(wrapper.getLocation(), "file:///page.html");
    document->SetProperty("window", FB::variant());  // the page's cycle, broken for the leak check
}

TEST_F(DOMWrappers, ElementsByTagNameFollowTheReportedLength) {
    auto document = object();
    auto first = object();
    auto second = object();
    document->setMethod("getElementsByTagName", [&](const FB::VariantList& args) {
        if (args.at(0).cast<std::string>() == "embed")
            return ref(FakeJSObject::array({ref(first), ref(second)}, host_));
        return ref(FakeJSObject::array({}, host_));
    });
    FB::DOM::Element wrapper(document);
    auto found = wrapper.getElementsByTagName(L"embed");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0]->getJSObject(), first);
    EXPECT_EQ(found[1]->getJSObject(), second);
    EXPECT_TRUE(wrapper.getElementsByTagName("object").empty());
}

TEST_F(DOMWrappers, TreeNavigationAndAttributes) {
    auto parent = object();
    auto children = FakeJSObject::array({ref(object()), FB::variant()}, host_);
    auto element = object();
    element->SetProperty("parentNode", ref(parent));
    element->SetProperty("childNodes", ref(children));
    element->SetProperty("innerHTML", FB::variant("<b>x</b>"));
    element->setMethod("getAttribute", [](const FB::VariantList& args) {
        return FB::variant(args.at(0).cast<std::string>() == "type" ? "application/x-orvanta" : "");
    });
    auto found = object();
    element->setMethod("getElementById", [&](const FB::VariantList&) { return ref(found); });

    FB::DOM::Element wrapper(element);
    EXPECT_EQ(wrapper.getParentNode()->getJSObject(), parent);
    EXPECT_EQ(wrapper.getChildNodeCount(), 2);
    EXPECT_TRUE(wrapper.getChildNode(0)->getJSObject());
    EXPECT_FALSE(wrapper.getChildNode(1)->getJSObject());
    EXPECT_EQ(wrapper.getInnerHTML(), "<b>x</b>");
    wrapper.setInnerHTML("<i>y</i>");
    EXPECT_EQ(element->GetProperty("innerHTML").cast<std::string>(), "<i>y</i>");
    EXPECT_EQ(wrapper.getStringAttribute("type"), "application/x-orvanta");
    FB::DOM::ElementPtr byId = wrapper.getElementById("plugin");
    EXPECT_EQ(byId->getJSObject(), found);
    EXPECT_TRUE(std::dynamic_pointer_cast<RicherElement>(byId));

    FB::DOM::Node node(element);
    node.setProperty(L"title", FB::variant("t"));
    node.setProperty(3, FB::variant(4));
    EXPECT_EQ(element->GetProperty("title").cast<std::string>(), "t");
    EXPECT_EQ(element->GetProperty(3).cast<int>(), 4);
    EXPECT_EQ(node.getNode(L"parentNode")->getJSObject(), parent);
}

TEST_F(DOMWrappers, AMissingObjectIsWrappedButNeverTouched) {
    auto element = object();  // no "parentNode"
    FB::DOM::Element wrapper(element);
    FB::DOM::ElementPtr parent = wrapper.getParentNode();
    ASSERT_TRUE(parent);
    EXPECT_FALSE(parent->getJSObject());
    EXPECT_THROW(parent->getWidth(), FB::script_error);
    EXPECT_THROW(parent->setInnerHTML("x"), FB::script_error);
    EXPECT_THROW(FB::DOM::Window(nullptr).alert("x"), FB::script_error);
}

TEST_F(DOMWrappers, CreateAsksTheObjectsHostAndFailsWhenTheHostIsGone) {
    auto element = object();
    EXPECT_TRUE(std::dynamic_pointer_cast<RicherElement>(FB::DOM::Element::create(element)));
    EXPECT_TRUE(FB::DOM::Window::create(element));
    EXPECT_TRUE(FB::DOM::Document::create(element));
    EXPECT_TRUE(FB::DOM::Node::create(element));

    host_.reset();
    EXPECT_THROW(FB::DOM::Element::create(element), std::bad_weak_ptr);
    EXPECT_THROW(FB::DOM::Window::create(element), std::bad_weak_ptr);
    EXPECT_THROW(FB::DOM::Node::create(element), std::bad_weak_ptr);
}

} // namespace
