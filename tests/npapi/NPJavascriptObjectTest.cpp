// A plug-in object as the page sees it: the NPClass callbacks as the browser calls them,
// the page exceptions they raise, events and listeners, and the wrapper's life.

#include "NpapiFixture.h"

#include <boost/numeric/conversion/converter_policies.hpp>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using FB::variant;
using FB::VariantList;
using FB::Npapi::NPJavascriptObject;
using orv::test::BrowserValue;
using orv::test::NpapiFixture;
using orv::test::PageObject;
using orv::test::SampleAPI;
using orv::test::text;

namespace {

const NPClass& cls() {
    return NPJavascriptObject::NPJavascriptObjectClass;
}

class PageView : public NpapiFixture {
protected:
    void SetUp() override {
        NpapiFixture::SetUp();
        obj = pageObject();
    }
    void TearDown() override {
        if (obj)
            browser.table()->releaseobject(obj);
        NpapiFixture::TearDown();
    }

    // invoke as the browser calls it, the test owning the result.
    bool invoke(const std::string& name, const std::vector<NPVariant>& args, BrowserValue& result) {
        return cls().invoke(obj, id(name), args.data(), static_cast<uint32_t>(args.size()), result.get());
    }

    NPObject* obj = nullptr;
};

NPVariant npInt(int32_t i) {
    NPVariant v;
    INT32_TO_NPVARIANT(i, v);
    return v;
}

NPVariant npObject(NPObject* o) {
    NPVariant v;
    OBJECT_TO_NPVARIANT(o, v);
    return v;
}

} // namespace

TEST_F(PageView, MembersAsThePageSeesThem) {
    struct Case {
        const char* name;
        bool method;
        bool property;
    };
    const Case withMethodObjects[] = {
        {"toString", true, false},      {"echo", false, true},  {"addEventListener", false, true},
        {"removeEventListener", false, true}, {"onping", false, true}, {"prop", false, true},
        {"valid", false, true},         {"undeclared", false, true}, {"width", false, false},
    };
    for (const Case& c : withMethodObjects) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cls().hasMethod(obj, id(c.name)), c.method);
        EXPECT_EQ(cls().hasProperty(obj, id(c.name)), c.property);
    }
    EXPECT_TRUE(cls().hasProperty(obj, browser.intId(0)));

    api->withoutMethodObjects();
    api->withoutDynamicAttributes();
    const Case plain[] = {{"toString", true, false}, {"echo", true, false}, {"undeclared", false, false},
                          {"prop", false, true}, {"addEventListener", false, true}};
    for (const Case& c : plain) {
        SCOPED_TRACE(std::string("plain ") + c.name);
        EXPECT_EQ(cls().hasMethod(obj, id(c.name)), c.method);
        EXPECT_EQ(cls().hasProperty(obj, id(c.name)), c.property);
    }
    EXPECT_FALSE(cls().hasProperty(obj, browser.intId(0)));
    EXPECT_TRUE(browser.exceptions().empty());
}

TEST_F(PageView, EveryValueTypeGoesInAndComesBackOut) {
    PageObject* page = browser.newObject(browser.instance());
    NPVariant vVoid, vNull, vBool, vDouble, vNaN;
    VOID_TO_NPVARIANT(vVoid);
    NULL_TO_NPVARIANT(vNull);
    BOOLEAN_TO_NPVARIANT(true, vBool);
    DOUBLE_TO_NPVARIANT(-2.5, vDouble);
    DOUBLE_TO_NPVARIANT(std::numeric_limits<double>::quiet_NaN(), vNaN);
    BrowserValue zeros, megabyte, invalid;
    zeros.value = browser.stringVariant(std::string("\0x\0", 3));
    megabyte.value = browser.stringVariant(std::string(1 << 20, 'm'));
    invalid.value = browser.stringVariant("\xc3\x28\xff");
    const std::vector<NPVariant> inputs = {vVoid, vNull, vBool, npInt(INT32_MIN), npInt(INT32_MAX), vDouble, vNaN,
                                           zeros.value, megabyte.value, invalid.value, npObject(page), npObject(obj)};
    for (const NPVariant& in : inputs) {
        SCOPED_TRACE(static_cast<int>(in.type));
        BrowserValue out;
        ASSERT_TRUE(invoke("echo", {in}, out));
        ASSERT_EQ(out.value.type, in.type);
        switch (in.type) {
        case NPVariantType_Bool:
            EXPECT_EQ(out.value.value.boolValue, in.value.boolValue);
            break;
        case NPVariantType_Int32:
            EXPECT_EQ(out.value.value.intValue, in.value.intValue);
            break;
        case NPVariantType_Double:
            EXPECT_TRUE(out.value.value.doubleValue == in.value.doubleValue ||
                        (std::isnan(in.value.doubleValue) && std::isnan(out.value.value.doubleValue)));
            break;
        case NPVariantType_String:
            EXPECT_EQ(text(out.value), text(in));
            EXPECT_NE(out.value.value.stringValue.UTF8Characters, in.value.stringValue.UTF8Characters);
            break;
        case NPVariantType_Object:
            // The same object back, the plug-in's own included, with a reference for the result.
            EXPECT_EQ(out.value.value.objectValue, in.value.objectValue);
            EXPECT_EQ(browser.refCount(in.value.objectValue), 2u);
            break;
        default:
            break;
        }
    }
    BrowserValue count;
    ASSERT_TRUE(invoke("count", inputs, count));
    EXPECT_EQ(count.value.value.intValue, static_cast<int32_t>(inputs.size()));
    EXPECT_TRUE(browser.exceptions().empty());
    browser.table()->releaseobject(page);
}

TEST_F(PageView, ToStringIsAlwaysAMethod) {
    ASSERT_TRUE(cls().hasMethod(obj, id("toString")));
    BrowserValue out;
    ASSERT_TRUE(invoke("toString", {}, out));
    EXPECT_EQ(text(out.value), "<sample>");
}

TEST_F(PageView, MethodObjectCallsTheMethod) {
    BrowserValue function;
    ASSERT_TRUE(cls().getProperty(obj, id("echo"), function.get()));
    ASSERT_EQ(function.value.type, NPVariantType_Object);
    NPObject* f = function.value.value.objectValue;
    ASSERT_TRUE(NPJavascriptObject::isNPJavascriptObject(f));
    BrowserValue hello, out;
    hello.value = browser.stringVariant("hello");
    ASSERT_TRUE(f->_class->invokeDefault(f, &hello.value, 1, out.get()));
    EXPECT_EQ(text(out.value), "hello");
    // The page cannot replace it.
    EXPECT_FALSE(cls().setProperty(obj, id("echo"), &hello.value));
    ASSERT_EQ(browser.exceptions().size(), 1u);
    EXPECT_EQ(browser.exceptions()[0].message, "This property cannot be changed");
    EXPECT_EQ(browser.exceptions()[0].object, obj);
}

// A browser that runs plug-ins in a process of their own frees the identifiers a callback
// brings when it returns and gives the next call's names the same addresses. Each call
// must still reach the member it names, whether the browser makes the plug-in's own
// lasting identifiers out of the call ones or keeps them apart.
class CallIdentifiers : public PageView, public ::testing::WithParamInterface<bool> {};

TEST_P(CallIdentifiers, EachCallReachesTheMemberItNames) {
    browser.keepCallIdentifiersApart(GetParam());
    api->prop = variant(std::string("stored"));
    enum Callback { Invoke, Get };
    const struct {
        Callback callback;
        const char* name;
        const char* answer;  // the result, as "s:text", "i:number" or "object"
    } calls[] = {
        {Invoke, "echo", "s:x"}, {Invoke, "count", "i:1"}, {Get, "echo", "object"},
        {Invoke, "echo", "s:x"}, {Get, "prop", "s:stored"}, {Get, "echo", "object"},
        {Invoke, "count", "i:1"}, {Get, "prop", "s:stored"}, {Invoke, "echo", "s:x"},
    };
    for (const auto& c : calls) {
        SCOPED_TRACE(c.name);
        const NPIdentifier name = browser.callIdentifier(c.name);
        BrowserValue x, out;
        x.value = browser.stringVariant("x");
        const bool ok = c.callback == Invoke ? cls().invoke(obj, name, &x.value, 1, out.get())
                                             : cls().getProperty(obj, name, out.get());
        browser.endCall();
        ASSERT_TRUE(ok);
        std::string answer;
        if (out.value.type == NPVariantType_String)
            answer = "s:" + text(out.value);
        else if (out.value.type == NPVariantType_Int32)
            answer = "i:" + std::to_string(out.value.value.intValue);
        else if (out.value.type == NPVariantType_Double)
            answer = "i:" + std::to_string(static_cast<long>(out.value.value.doubleValue));
        else if (out.value.type == NPVariantType_Object)
            answer = "object";
        EXPECT_EQ(answer, c.answer);
    }
    EXPECT_TRUE(browser.exceptions().empty());
}

INSTANTIATE_TEST_SUITE_P(LastingIdentifiers, CallIdentifiers, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("KeptApart") : std::string("MadeFromCallOnes");
                         });

TEST_F(PageView, PropertiesReadAndWrite) {
    BrowserValue value, out;
    value.value = browser.stringVariant("stored");
    ASSERT_TRUE(cls().setProperty(obj, id("prop"), &value.value));
    EXPECT_EQ(api->prop.cast<std::string>(), "stored");
    ASSERT_TRUE(cls().getProperty(obj, id("prop"), out.get()));
    EXPECT_EQ(text(out.value), "stored");
    // An index is a dynamic attribute.
    NPVariant seven = npInt(7);
    ASSERT_TRUE(cls().setProperty(obj, browser.intId(3), &seven));
    BrowserValue indexed;
    ASSERT_TRUE(cls().getProperty(obj, browser.intId(3), indexed.get()));
    EXPECT_EQ(indexed.value.value.intValue, 7);
}

TEST_F(PageView, FailuresReachThePageWithTheirMessage) {
    struct Case {
        const char* method;
        std::string message;
    };
    const Case cases[] = {
        {"nothing", "The specified member does not exist: nothing"},
        {"scriptError", "boom"},
        {"runtimeError", "runtime boom"},
        {"outOfMemory", std::bad_alloc().what()},
        {"throwsInt", "Unknown error in the plugin"},
    };
    api->withoutMethodObjects();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        browser.clearCalls();
        BrowserValue out;
        // True: WebKit shows the page the message only then.
        EXPECT_TRUE(invoke(c.method, {npInt(1)}, out));
        EXPECT_EQ(out.value.type, NPVariantType_Void);
        ASSERT_EQ(browser.exceptions().size(), 1u);
        EXPECT_EQ(browser.exceptions()[0].message, c.message);
        EXPECT_EQ(browser.exceptions()[0].object, obj);
    }
    // A result without an int32 form: refused, not cut down.
    browser.clearCalls();
    api->answer = variant(4294967295UL);
    BrowserValue out;
    EXPECT_TRUE(invoke("answer", {}, out));
    EXPECT_EQ(out.value.type, NPVariantType_Void);
    ASSERT_EQ(browser.exceptions().size(), 1u);
    EXPECT_EQ(browser.exceptions()[0].message, boost::numeric::positive_overflow().what());
}

namespace {

// Every member throws what the test chooses.
class ThrowingAPI : public FB::JSAPI {
public:
    std::function<void()> fail;

    using FB::JSAPI::getMemberNames;
    using FB::JSAPI::HasMethod;
    using FB::JSAPI::HasMethodObject;
    using FB::JSAPI::HasProperty;
    using FB::JSAPI::HasEvent;
    using FB::JSAPI::GetProperty;
    using FB::JSAPI::SetProperty;
    using FB::JSAPI::Invoke;

    void getMemberNames(std::vector<std::string>&) const override { fail(); }
    size_t getMemberCount() const override { return fail(), 0; }
    bool HasMethod(const std::string&) const override { return fail(), false; }
    bool HasMethodObject(const std::string&) const override { return fail(), false; }
    bool HasProperty(int) const override { return fail(), false; }
    bool HasProperty(const std::string&) const override { return fail(), false; }
    bool HasEvent(const std::string&) const override { return fail(), false; }
    variant GetProperty(int) override { return fail(), variant(); }
    variant GetProperty(const std::string&) override { return fail(), variant(); }
    void SetProperty(int, const variant&) override { fail(); }
    void SetProperty(const std::string&, const variant&) override { fail(); }
    variant Invoke(const std::string&, const VariantList&) override { return fail(), variant(); }
};

} // namespace

TEST_F(NpapiFixture, NoExceptionLeavesAnyCallback) {
    struct Kind {
        const char* name;
        std::function<void()> raise;
        const char* message;  // null: answered silently
    };
    const Kind kinds[] = {
        {"script error", [] { throw FB::script_error("script failure"); }, "script failure"},
        {"invalid arguments", [] { throw FB::invalid_arguments(); }, "Invalid Arguments"},
        {"runtime error", [] { throw std::runtime_error("runtime failure"); }, "runtime failure"},
        {"out of memory", [] { throw std::bad_alloc(); }, std::bad_alloc().what()},
        {"numeric overflow", [] { throw boost::numeric::negative_overflow(); },
         boost::numeric::negative_overflow().what()},
        {"bad variant cast", [] { throw FB::bad_variant_cast(typeid(int), typeid(long)); }, "bad cast"},
        {"not a standard exception", [] { throw 42; }, "Unknown error in the plugin"},
        {"object gone", [] { throw FB::Npapi::object_gone(); }, nullptr},
    };
    struct Callback {
        const char* name;
        bool failureAnswer;
        std::function<bool(NPObject*, orv::test::FakeNpapiBrowser&)> call;
    };
    const Callback callbacks[] = {
        {"hasMethod", false, [](NPObject* o, orv::test::FakeNpapiBrowser& b) { return cls().hasMethod(o, b.stringId("m")); }},
        {"hasProperty", false,
         [](NPObject* o, orv::test::FakeNpapiBrowser& b) { return cls().hasProperty(o, b.stringId("p")); }},
        {"hasProperty by index", false,
         [](NPObject* o, orv::test::FakeNpapiBrowser& b) { return cls().hasProperty(o, b.intId(1)); }},
        {"getProperty", false,
         [](NPObject* o, orv::test::FakeNpapiBrowser& b) {
             BrowserValue r;
             bool answer = cls().getProperty(o, b.stringId("p"), r.get());
             EXPECT_EQ(r.value.type, NPVariantType_Void);
             return answer;
         }},
        {"setProperty", false,
         [](NPObject* o, orv::test::FakeNpapiBrowser& b) {
             NPVariant v = npInt(1);
             return cls().setProperty(o, b.stringId("p"), &v);
         }},
        {"removeProperty", false,
         [](NPObject* o, orv::test::FakeNpapiBrowser& b) { return cls().removeProperty(o, b.stringId("onx")); }},
        {"invoke", true,
         [](NPObject* o, orv::test::FakeNpapiBrowser& b) {
             BrowserValue r;
             bool answer = cls().invoke(o, b.stringId("m"), nullptr, 0, r.get());
             EXPECT_EQ(r.value.type, NPVariantType_Void);
             return answer;
         }},
        {"invokeDefault", true,
         [](NPObject* o, orv::test::FakeNpapiBrowser&) {
             BrowserValue r;
             bool answer = cls().invokeDefault(o, nullptr, 0, r.get());
             EXPECT_EQ(r.value.type, NPVariantType_Void);
             return answer;
         }},
        {"enumerate", false,
         [](NPObject* o, orv::test::FakeNpapiBrowser&) {
             NPIdentifier* ids = reinterpret_cast<NPIdentifier*>(1);
             uint32_t count = 5;
             bool answer = cls().enumerate(o, &ids, &count);
             EXPECT_EQ(count, 0u);
             EXPECT_EQ(ids, nullptr);
             return answer;
         }},
    };
    auto throwing = std::make_shared<ThrowingAPI>();
    NPObject* o = pageObject(throwing);
    for (const Kind& kind : kinds) {
        throwing->fail = kind.raise;
        for (const Callback& callback : callbacks) {
            SCOPED_TRACE(std::string(kind.name) + " in " + callback.name);
            browser.clearCalls();
            EXPECT_EQ(callback.call(o, browser), kind.message ? callback.failureAnswer : false);
            if (!kind.message) {
                EXPECT_TRUE(browser.exceptions().empty());
                continue;
            }
            ASSERT_EQ(browser.exceptions().size(), 1u);
            EXPECT_EQ(browser.exceptions()[0].message, kind.message);
            EXPECT_EQ(browser.exceptions()[0].object, o);
        }
    }
    browser.table()->releaseobject(o);
}

TEST_F(PageView, EventPropertySetsAndClearsTheDefaultHandler) {
    PageObject* handler = browser.newFunction(browser.instance(), nullptr);
    NPVariant function = npObject(handler);
    ASSERT_TRUE(cls().setProperty(obj, id("onping"), &function));
    auto stored = std::dynamic_pointer_cast<FB::Npapi::NPObjectAPI>(api->getDefaultEventMethod("onping"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->getNPObject(), handler);
    stored.reset();
    BrowserValue read;
    ASSERT_TRUE(cls().getProperty(obj, id("onping"), read.get()));
    EXPECT_EQ(read.value.value.objectValue, handler);

    // Anything but a function or null changes nothing, and is no error.
    NPVariant number = npInt(5);
    EXPECT_TRUE(cls().setProperty(obj, id("onping"), &number));
    EXPECT_TRUE(api->getDefaultEventMethod("onping"));

    NPVariant null;
    NULL_TO_NPVARIANT(null);
    EXPECT_TRUE(cls().setProperty(obj, id("onping"), &null));
    EXPECT_FALSE(api->getDefaultEventMethod("onping"));

    ASSERT_TRUE(cls().setProperty(obj, id("onping"), &function));
    EXPECT_FALSE(cls().removeProperty(obj, id("onping")));
    EXPECT_FALSE(api->getDefaultEventMethod("onping"));
    EXPECT_TRUE(browser.exceptions().empty());
    browser.table()->releaseobject(handler);
}

TEST_F(PageView, ListenersRegisterUnderTheOnName) {
    BrowserValue add, remove;
    ASSERT_TRUE(cls().getProperty(obj, id("addEventListener"), add.get()));
    ASSERT_TRUE(cls().getProperty(obj, id("removeEventListener"), remove.get()));
    NPObject* addFn = add.value.value.objectValue;
    NPObject* removeFn = remove.value.value.objectValue;
    PageObject* handler = browser.newFunction(browser.instance(), nullptr);

    BrowserValue type;
    type.value = browser.stringVariant("ping");
    NPVariant capture;
    BOOLEAN_TO_NPVARIANT(false, capture);
    const NPVariant args[] = {type.value, npObject(handler), capture};
    for (int i = 0; i < 2; ++i) {  // the same function twice is one handler
        BrowserValue r;
        ASSERT_TRUE(addFn->_class->invokeDefault(addFn, args, 3, r.get()));
        EXPECT_EQ(r.value.type, NPVariantType_Void);
    }
    EXPECT_EQ(api->handlerCount("onping"), 1u);
    BrowserValue r;
    ASSERT_TRUE(removeFn->_class->invokeDefault(removeFn, args, 2, r.get()));
    EXPECT_EQ(api->handlerCount("onping"), 0u);
    EXPECT_TRUE(browser.exceptions().empty());

    struct Bad {
        const char* name;
        std::vector<NPVariant> args;
        const char* message;
    };
    const Bad bad[] = {
        {"one argument", {type.value}, "Invalid Arguments"},
        {"four arguments", {type.value, npObject(handler), capture, capture}, "Invalid Arguments"},
        {"a handler that is no object", {type.value, npInt(3)}, "bad cast"},
        {"a name that is no text", {npObject(handler), npObject(handler)}, "bad cast"},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.name);
        browser.clearCalls();
        BrowserValue out;
        EXPECT_TRUE(addFn->_class->invokeDefault(addFn, b.args.data(), static_cast<uint32_t>(b.args.size()),
                                                 out.get()));
        ASSERT_EQ(browser.exceptions().size(), 1u);
        EXPECT_EQ(browser.exceptions()[0].message, b.message);
    }

    // The page keeps the function after the object it came from is gone.
    browser.table()->releaseobject(obj);
    obj = nullptr;
    browser.clearCalls();
    BrowserValue late;
    EXPECT_TRUE(addFn->_class->invokeDefault(addFn, args, 2, late.get()));
    ASSERT_EQ(browser.exceptions().size(), 1u);
    EXPECT_EQ(browser.exceptions()[0].message, "This object is no longer valid");
    browser.table()->releaseobject(handler);
}

TEST_F(PageView, EnumerationListsTheMembersThenTheListenerMethods) {
    std::vector<std::string> expected;
    api->getMemberNames(expected);
    expected.push_back("addEventListener");
    expected.push_back("removeEventListener");
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;
    ASSERT_TRUE(cls().enumerate(obj, &ids, &count));
    ASSERT_EQ(count, expected.size());
    for (uint32_t i = 0; i < count; ++i)
        EXPECT_EQ(ids[i], id(expected[i])) << expected[i];
    browser.table()->memfree(ids);
}

TEST_F(PageView, ConstructIsRefused) {
    BrowserValue out;
    EXPECT_FALSE(cls().construct(obj, nullptr, 0, out.get()));
}

TEST_F(PageView, NullArgumentsFromTheBrowserAreRefused) {
    BrowserValue out;
    NPVariant one = npInt(1);
    NPIdentifier* ids = nullptr;
    uint32_t count = 0;
    EXPECT_FALSE(cls().hasMethod(nullptr, id("echo")));
    EXPECT_FALSE(cls().hasProperty(nullptr, id("echo")));
    EXPECT_FALSE(cls().getProperty(nullptr, id("prop"), out.get()));
    EXPECT_FALSE(cls().setProperty(nullptr, id("prop"), &one));
    EXPECT_FALSE(cls().removeProperty(nullptr, id("prop")));
    EXPECT_FALSE(cls().invoke(nullptr, id("echo"), &one, 1, out.get()));
    EXPECT_FALSE(cls().invokeDefault(nullptr, &one, 1, out.get()));
    EXPECT_FALSE(cls().enumerate(nullptr, &ids, &count));
    EXPECT_FALSE(cls().invoke(obj, id("echo"), &one, 1, nullptr));
    EXPECT_FALSE(cls().getProperty(obj, id("prop"), nullptr));
    EXPECT_FALSE(cls().enumerate(obj, nullptr, &count));
    cls().invalidate(nullptr);
    cls().deallocate(nullptr);
    // The instance is not needed to make a wrapper.
    NPObject* made = cls().allocate(nullptr, const_cast<NPClass*>(&cls()));
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(NPJavascriptObject::isNPJavascriptObject(made));
    cls().deallocate(made);
    EXPECT_TRUE(browser.exceptions().empty());
    // Arguments promised but not given.
    EXPECT_TRUE(cls().invoke(obj, id("echo"), nullptr, 2, out.get()));
    EXPECT_FALSE(cls().setProperty(obj, id("prop"), nullptr));
    ASSERT_EQ(browser.exceptions().size(), 2u);
    EXPECT_EQ(browser.exceptions()[0].message, "Invalid Arguments");
}

TEST_F(PageView, InvalidatedWrapperAnswersNothingAndInvalidatesTheObject) {
    cls().invalidate(obj);
    EXPECT_FALSE(api->isValid());
    BrowserValue out;
    NPVariant one = npInt(1);
    EXPECT_FALSE(cls().hasMethod(obj, id("toString")));
    EXPECT_FALSE(cls().hasProperty(obj, id("prop")));
    EXPECT_FALSE(cls().getProperty(obj, id("prop"), out.get()));
    EXPECT_FALSE(cls().setProperty(obj, id("prop"), &one));
    EXPECT_FALSE(cls().invoke(obj, id("echo"), &one, 1, out.get()));
    EXPECT_FALSE(cls().invokeDefault(obj, &one, 1, out.get()));
    EXPECT_TRUE(browser.exceptions().empty());
}

TEST_F(PageView, WrapperOfAGoneObjectAnswersNothing) {
    NPObject* weak = NPJavascriptObject::NewObject(host, FB::JSAPIWeakPtr(api), false)->getNPObject();
    api.reset();
    BrowserValue out;
    EXPECT_FALSE(cls().hasMethod(weak, id("toString")));
    EXPECT_FALSE(cls().invoke(weak, id("echo"), nullptr, 0, out.get()));
    EXPECT_TRUE(browser.exceptions().empty());
    browser.table()->releaseobject(weak);
}

TEST_F(NpapiFixture, WrapperWhoseHostIsGoneInvalidatesItselfSilently) {
    auto other = std::make_shared<FB::Npapi::NpapiBrowserHost>(&module, browser.instance(1));
    other->setBrowserFuncs(browser.table());
    NPObject* o = FB::Npapi::NPJavascriptObject::NewObject(other, api, false)->getNPObject();
    other->shutdown();
    other.reset();
    BrowserValue out;
    EXPECT_FALSE(cls().invoke(o, id("echo"), nullptr, 0, out.get()));
    EXPECT_FALSE(NPJavascriptObject::fromNPObject(o)->isValid());
    EXPECT_FALSE(api->isValid());
    EXPECT_TRUE(browser.exceptions().empty());
    browser.table()->releaseobject(o);
}

TEST_F(NpapiFixture, ObjectHandedOutTwiceAnswersThroughTheOtherWrapperWhenOneIsFreed) {
    auto handed = std::make_shared<SampleAPI>();
    std::weak_ptr<SampleAPI> weak = handed;
    BrowserValue first, second;
    host->getNPVariant(first.get(), variant(FB::JSAPIPtr(handed)));
    host->getNPVariant(second.get(), variant(FB::JSAPIPtr(handed)));
    handed.reset();
    ASSERT_EQ(first.value.type, NPVariantType_Object);
    ASSERT_EQ(second.value.type, NPVariantType_Object);
    browser.releaseValue(first.value);
    VOID_TO_NPVARIANT(first.value);
    EXPECT_FALSE(weak.expired()) << "the page still holds the second wrapper";
    NPObject* o = second.value.value.objectValue;
    BrowserValue hello, out;
    hello.value = browser.stringVariant("hello");
    ASSERT_TRUE(o->_class->invoke(o, id("echo"), &hello.value, 1, out.get()));
    EXPECT_EQ(text(out.value), "hello");
    browser.releaseValue(second.value);
    VOID_TO_NPVARIANT(second.value);
    EXPECT_TRUE(weak.expired()) << "the last wrapper let go of the object";
}

// The page reads a method's property on every call: the same function object comes back,
// held by the host until it shuts down, and one the browser freed with its instance is
// made anew instead of being handed out again.
TEST_F(PageView, MethodObjectIsTheSameOnEveryReadAndGoesWithTheHost) {
    BrowserValue first, second;
    ASSERT_TRUE(cls().getProperty(obj, id("echo"), first.get()));
    ASSERT_TRUE(cls().getProperty(obj, id("echo"), second.get()));
    ASSERT_EQ(first.value.type, NPVariantType_Object);
    NPObject* function = first.value.value.objectValue;
    EXPECT_EQ(second.value.value.objectValue, function);
    EXPECT_EQ(browser.refCount(function), 3u);  // the page's two and the host's own
    BrowserValue other;
    ASSERT_TRUE(cls().getProperty(obj, id("count"), other.get()));
    EXPECT_NE(other.value.value.objectValue, function);

    host->shutdown();
    EXPECT_EQ(browser.refCount(function), 2u);
    browser.releaseValue(first.value);
    VOID_TO_NPVARIANT(first.value);
    browser.releaseValue(second.value);
    VOID_TO_NPVARIANT(second.value);
    EXPECT_FALSE(browser.isAlive(function));
}

TEST(MethodObjectsOfAnEndedInstance, AreMadeAnewNotHandedOutFreed) {
    orv::test::FakeNpapiBrowser browser;
    FB::Npapi::NpapiPluginModule module;
    module.setNetscapeFuncs(browser.table());
    // A host that holds none of the page's objects: only its own wrappers are freed below.
    browser.withWindow(false);
    browser.withElement(false);
    auto host = std::make_shared<FB::Npapi::NpapiBrowserHost>(&module, browser.instance(0));
    host->setBrowserFuncs(browser.table());
    auto api = std::make_shared<SampleAPI>();
    // A wrapper made by the host and freed with it, as Firefox-family browsers
    // free every object of an ended instance.
    NPObject* root = NPJavascriptObject::NewObject(host, api, false)->getNPObject();
    NPVariant function;
    ASSERT_TRUE(cls().getProperty(root, browser.stringId("echo"), &function));
    NPObject* freed = function.value.objectValue;
    browser.destroyInstance(browser.instance(0));
    ASSERT_FALSE(browser.isAlive(freed));
    ASSERT_FALSE(browser.isAlive(root));

    // The host still runs (a browser that freed the objects under a live instance):
    // another read makes a new wrapper rather than handing out or releasing the freed one.
    NPObject* again = NPJavascriptObject::NewObject(host, api, false)->getNPObject();
    NPVariant fresh;
    ASSERT_TRUE(cls().getProperty(again, browser.stringId("echo"), &fresh));
    ASSERT_EQ(fresh.type, NPVariantType_Object);
    EXPECT_TRUE(browser.isAlive(fresh.value.objectValue));
    browser.releaseValue(fresh);
    browser.table()->releaseobject(again);
    host->shutdown();
    EXPECT_EQ(browser.aliveObjects(&NPJavascriptObject::NPJavascriptObjectClass), 0u);
}
