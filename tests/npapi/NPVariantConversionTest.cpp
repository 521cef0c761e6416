// The host's conversions between NPVariant and variant, both ways, for every type and
// the values at their edges.

#include "NpapiFixture.h"

#include <boost/numeric/conversion/converter_policies.hpp>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using FB::variant;
using FB::VariantList;
using FB::VariantMap;
using orv::test::BrowserValue;
using orv::test::NpapiFixture;
using orv::test::PageObject;
using orv::test::SampleAPI;
using orv::test::text;

namespace {

using Conversions = NpapiFixture;

const std::string kZeros("a\0b\0", 4);
const std::string kInvalidUtf8("\xff\xfe\xc3(\xed\xa0\x80", 7);  // stray bytes, bad continuation, surrogate
const std::string kMegabyte(1 << 20, 'x');

NPVariant npBool(bool b) {
    NPVariant v;
    BOOLEAN_TO_NPVARIANT(b, v);
    return v;
}
NPVariant npInt(int32_t i) {
    NPVariant v;
    INT32_TO_NPVARIANT(i, v);
    return v;
}
NPVariant npDouble(double d) {
    NPVariant v;
    DOUBLE_TO_NPVARIANT(d, v);
    return v;
}

} // namespace

TEST_F(Conversions, BrowserScalarsArriveWithTheirExactValues) {
    struct Case {
        const char* name;
        NPVariant in;
        std::function<void(const variant&)> check;
    };
    NPVariant vVoid, vNull;
    VOID_TO_NPVARIANT(vVoid);
    NULL_TO_NPVARIANT(vNull);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Case> cases = {
        {"void", vVoid, [](const variant& v) { EXPECT_TRUE(v.empty()); }},
        {"null", vNull, [](const variant& v) { EXPECT_TRUE(v.is_null()); }},
        {"true", npBool(true), [](const variant& v) { EXPECT_TRUE(v.cast<bool>()); }},
        {"false", npBool(false), [](const variant& v) { EXPECT_FALSE(v.cast<bool>()); }},
        {"int32 min", npInt(INT32_MIN), [](const variant& v) { EXPECT_EQ(v.cast<int32_t>(), INT32_MIN); }},
        {"int32 max", npInt(INT32_MAX), [](const variant& v) { EXPECT_EQ(v.cast<int32_t>(), INT32_MAX); }},
        {"NaN", npDouble(nan), [](const variant& v) { EXPECT_TRUE(std::isnan(v.cast<double>())); }},
        {"-0", npDouble(-0.0), [](const variant& v) { EXPECT_TRUE(std::signbit(v.cast<double>())); }},
        {"infinity", npDouble(HUGE_VAL), [](const variant& v) { EXPECT_EQ(v.cast<double>(), HUGE_VAL); }},
        {"double max", npDouble(std::numeric_limits<double>::max()),
         [](const variant& v) { EXPECT_EQ(v.cast<double>(), std::numeric_limits<double>::max()); }},
        {"2^53+1 as double", npDouble(9007199254740993.0),
         [](const variant& v) { EXPECT_EQ(v.cast<double>(), 9007199254740992.0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.check(host->getVariant(&c.in));
    }
    EXPECT_TRUE(host->getVariant(nullptr).empty());
}

TEST_F(Conversions, BrowserStringsArriveByteForByte) {
    for (const std::string& s : {std::string(), std::string("plain"), kZeros, kInvalidUtf8,
                                 std::string("\xd0\x9f\xd0\xb8\xd0\xbd"), kMegabyte}) {
        BrowserValue in;
        in.value = browser.stringVariant(s);
        variant out = host->getVariant(in.get());
        ASSERT_TRUE(out.is_of_type<std::string>());
        EXPECT_EQ(out.cast<std::string>(), s);
    }
    // No characters at all: an empty text, not a crash.
    NPVariant none;
    STRINGN_TO_NPVARIANT(nullptr, 0, none);
    EXPECT_EQ(host->getVariant(&none).cast<std::string>(), "");
}

TEST_F(Conversions, BrowserObjectArrivesWrappedWithItsOwnReference) {
    PageObject* page = browser.newObject(browser.instance());
    {
        NPVariant in;
        OBJECT_TO_NPVARIANT(page, in);
        variant out = host->getVariant(&in);
        auto wrapper = std::dynamic_pointer_cast<FB::Npapi::NPObjectAPI>(out.cast<FB::JSObjectPtr>());
        ASSERT_TRUE(wrapper);
        EXPECT_EQ(wrapper->getNPObject(), page);
        EXPECT_EQ(wrapper->getJSAPI(), nullptr);
        EXPECT_EQ(browser.refCount(page), 2u);
    }
    EXPECT_EQ(browser.refCount(page), 1u);
    browser.table()->releaseobject(page);

    NPVariant broken;
    broken.type = static_cast<NPVariantType>(7);
    EXPECT_THROW(host->getVariant(&broken), FB::script_error);
    NPVariant nullObject;
    OBJECT_TO_NPVARIANT(nullptr, nullObject);
    EXPECT_TRUE(host->getVariant(&nullObject).is_null());
}

TEST_F(Conversions, ValuesReachTheBrowserAsTheirScriptType) {
    struct Case {
        const char* name;
        variant in;
        NPVariantType type;
        std::function<void(const NPVariant&)> check;
    };
    const auto isInt = [](int32_t expected) {
        return [expected](const NPVariant& v) { EXPECT_EQ(v.value.intValue, expected); };
    };
    const auto isText = [](const std::string& expected) {
        return [expected](const NPVariant& v) {
            EXPECT_EQ(text(v), expected);
            EXPECT_EQ(v.value.stringValue.UTF8Characters[expected.size()], '\0');
        };
    };
    const std::vector<Case> cases = {
        {"bool", variant(true), NPVariantType_Bool, [](const NPVariant& v) { EXPECT_TRUE(v.value.boolValue); }},
        {"char", variant('A'), NPVariantType_Int32, isInt(65)},
        {"unsigned char", variant(static_cast<unsigned char>(200)), NPVariantType_Int32, isInt(200)},
        {"short", variant(static_cast<short>(-5)), NPVariantType_Int32, isInt(-5)},
        {"unsigned short", variant(static_cast<unsigned short>(65535)), NPVariantType_Int32, isInt(65535)},
        {"int min", variant(INT32_MIN), NPVariantType_Int32, isInt(INT32_MIN)},
        {"unsigned int", variant(7u), NPVariantType_Int32, isInt(7)},
        {"long", variant(-2147483647L - 1), NPVariantType_Int32, isInt(INT32_MIN)},
        {"unsigned long", variant(2147483647UL), NPVariantType_Int32, isInt(INT32_MAX)},
        {"64-bit", variant(1099511627776LL), NPVariantType_String, isText("1099511627776")},
        {"64-bit min", variant(std::numeric_limits<long long>::min()), NPVariantType_String,
         isText("-9223372036854775808")},
        {"unsigned 64-bit max", variant(std::numeric_limits<unsigned long long>::max()), NPVariantType_String,
         isText("18446744073709551615")},
        {"float", variant(1.5f), NPVariantType_Double, [](const NPVariant& v) { EXPECT_EQ(v.value.doubleValue, 1.5); }},
        {"NaN", variant(std::numeric_limits<double>::quiet_NaN()), NPVariantType_Double,
         [](const NPVariant& v) { EXPECT_TRUE(std::isnan(v.value.doubleValue)); }},
        {"double lowest", variant(std::numeric_limits<double>::lowest()), NPVariantType_Double,
         [](const NPVariant& v) { EXPECT_EQ(v.value.doubleValue, std::numeric_limits<double>::lowest()); }},
        {"text with zero bytes", variant(kZeros), NPVariantType_String, isText(kZeros)},
        {"invalid UTF-8", variant(kInvalidUtf8), NPVariantType_String, isText(kInvalidUtf8)},
        {"1 MB text", variant(kMegabyte), NPVariantType_String, isText(kMegabyte)},
        {"empty text", variant(std::string()), NPVariantType_String, isText("")},
        {"wide text", variant(std::wstring(L"\u041f\u0438\u043d")), NPVariantType_String,
         isText("\xd0\x9f\xd0\xb8\xd0\xbd")},
        {"null", variant(FB::variant_detail::null()), NPVariantType_Null, [](const NPVariant&) {}},
        {"empty", variant(), NPVariantType_Void, [](const NPVariant&) {}},
        {"null handle", variant(FB::JSAPIPtr()), NPVariantType_Null, [](const NPVariant&) {}},
        {"expired weak handle", variant(FB::JSAPIWeakPtr()), NPVariantType_Null, [](const NPVariant&) {}},
        {"null browser object", variant(FB::JSObjectPtr()), NPVariantType_Null, [](const NPVariant&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BrowserValue out;
        INT32_TO_NPVARIANT(99, out.value);
        host->getNPVariant(out.get(), c.in);
        ASSERT_EQ(out.value.type, c.type);
        c.check(out.value);
    }
}

TEST_F(Conversions, NumbersOutsideInt32AreRefusedNotTruncated) {
    std::vector<variant> tooLarge = {variant(4294967295UL), variant(2147483648u)};
    if (sizeof(long) == 8)
        tooLarge.push_back(variant(std::numeric_limits<long>::max()));  // a 64-bit long still means 32 bits
    for (const variant& v : tooLarge) {
        NPVariant out;
        INT32_TO_NPVARIANT(99, out);
        EXPECT_THROW(host->getNPVariant(&out, v), boost::numeric::positive_overflow);
        EXPECT_EQ(out.value.intValue, 99);  // untouched
    }
}

TEST_F(Conversions, ValueWithoutScriptFormLeavesTheTargetUnchanged) {
    NPVariant out;
    INT32_TO_NPVARIANT(99, out);
    host->getNPVariant(&out, variant(std::vector<int>{1, 2}));
    EXPECT_EQ(out.type, NPVariantType_Int32);
    EXPECT_EQ(out.value.intValue, 99);
}

TEST_F(Conversions, PluginObjectHandedOutIsKeptAliveByTheBrowsersReference) {
    std::weak_ptr<SampleAPI> weak = api;
    BrowserValue out;
    host->getNPVariant(out.get(), variant(FB::JSAPIPtr(api)));
    ASSERT_EQ(out.value.type, NPVariantType_Object);
    NPObject* obj = out.value.value.objectValue;
    ASSERT_TRUE(FB::Npapi::NPJavascriptObject::isNPJavascriptObject(obj));
    EXPECT_EQ(FB::Npapi::NPJavascriptObject::fromNPObject(obj)->getAPI(), api);
    api.reset();
    EXPECT_FALSE(weak.expired());  // the host holds it for the page
    browser.releaseValue(out.value);
    EXPECT_TRUE(weak.expired());
}

TEST_F(Conversions, WeakHandleDoesNotKeepThePluginObject) {
    std::weak_ptr<SampleAPI> weak = api;
    BrowserValue out;
    host->getNPVariant(out.get(), variant(FB::JSAPIWeakPtr(api)));
    ASSERT_EQ(out.value.type, NPVariantType_Object);
    api.reset();
    EXPECT_TRUE(weak.expired());
    // The page's wrapper now answers nothing, and raises nothing.
    BrowserValue result;
    EXPECT_FALSE(browser.table()->invoke(browser.instance(), out.value.value.objectValue, id("echo"), nullptr, 0,
                                         result.get()));
    EXPECT_TRUE(browser.exceptions().empty());
}

TEST_F(Conversions, BrowserObjectGoesBackAsItselfWithAReference) {
    PageObject* page = browser.newObject(browser.instance());
    NPVariant in;
    OBJECT_TO_NPVARIANT(page, in);
    variant wrapped = host->getVariant(&in);
    for (const variant& handle : {wrapped, variant(FB::JSAPIPtr(wrapped.cast<FB::JSObjectPtr>())),
                                  variant(FB::JSAPIWeakPtr(wrapped.cast<FB::JSObjectPtr>()))}) {
        BrowserValue out;
        host->getNPVariant(out.get(), handle);
        ASSERT_EQ(out.value.type, NPVariantType_Object);
        EXPECT_EQ(out.value.value.objectValue, page);
        EXPECT_EQ(browser.refCount(page), 3u);  // the test's, the wrapper's, the result's
    }
    wrapped.reset();
    EXPECT_EQ(browser.refCount(page), 1u);
    browser.table()->releaseobject(page);
}

TEST_F(Conversions, ListsAndMapsBecomeThePagesOwnArraysAndObjects) {
    VariantList inner = {variant(3L)};
    VariantMap map = {{"a", variant(1L)}, {"b", variant(std::string("x"))}};
    BrowserValue out;
    host->getNPVariant(out.get(), variant(VariantList{variant(1L), variant(std::string("two")), variant(inner),
                                                      variant(map)}));
    ASSERT_EQ(out.value.type, NPVariantType_Object);
    auto* array = static_cast<PageObject*>(out.value.value.objectValue);
    EXPECT_EQ(array->label, "array");
    EXPECT_EQ(browser.refCount(array), 1u);  // the result's only
    EXPECT_EQ(browser.callCount("invoke:Array"), 2);
    EXPECT_EQ(browser.callCount("invoke:Object"), 1);
    EXPECT_EQ(browser.callCount("invoke:push"), 5);
    EXPECT_EQ(array->properties["length"].value.doubleValue, 4.0);
    EXPECT_EQ(array->properties["0"].value.intValue, 1);
    EXPECT_EQ(text(array->properties["1"]), "two");
    auto* nested = static_cast<PageObject*>(array->properties["2"].value.objectValue);
    EXPECT_EQ(nested->properties["0"].value.intValue, 3);
    auto* object = static_cast<PageObject*>(array->properties["3"].value.objectValue);
    EXPECT_EQ(object->label, "object");
    EXPECT_EQ(object->properties["a"].value.intValue, 1);
    EXPECT_EQ(text(object->properties["b"]), "x");

    // And back: the page's array read as a list, its object as a map.
    variant back = host->getVariant(out.get());
    VariantList list = back.convert_cast<VariantList>();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1].cast<std::string>(), "two");
    VariantMap readMap = list[3].convert_cast<VariantMap>();
    EXPECT_EQ(readMap.size(), 2u);
    EXPECT_EQ(readMap["b"].cast<std::string>(), "x");
}

TEST_F(Conversions, ListWithoutAPageWindowFailsClearly) {
    browser.withWindow(false);
    auto bare = std::make_shared<FB::Npapi::NpapiBrowserHost>(&module, browser.instance(1));
    bare->setBrowserFuncs(browser.table());
    NPVariant out;
    VOID_TO_NPVARIANT(out);
    try {
        bare->getNPVariant(&out, variant(VariantList{variant(1L)}));
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot find HTML window");
    }
    EXPECT_EQ(out.type, NPVariantType_Void);
    bare->shutdown();
}

TEST_F(Conversions, ObjectOfAnotherInstanceIsRecognisedAsThePluginsOwn) {
    auto other = std::make_shared<FB::Npapi::NpapiBrowserHost>(&module, browser.instance(1));
    other->setBrowserFuncs(browser.table());
    auto otherApi = std::make_shared<SampleAPI>();
    NPObject* foreign = FB::Npapi::NPJavascriptObject::NewObject(other, otherApi, false)->getNPObject();
    NPVariant in;
    OBJECT_TO_NPVARIANT(foreign, in);
    {
        variant arrived = host->getVariant(&in);
        EXPECT_EQ(arrived.convert_cast<std::shared_ptr<SampleAPI>>(), otherApi);
        // Calls go straight to the object, not through the browser.
        browser.clearCalls();
        otherApi->answer = variant(5L);
        EXPECT_EQ(arrived.cast<FB::JSObjectPtr>()->Invoke("answer", VariantList()).cast<long>(), 5L);
        EXPECT_EQ(browser.callCount("invoke:answer"), 0);
    }
    browser.table()->releaseobject(foreign);
    other->shutdown();
}

TEST_F(Conversions, AfterShutdownObjectsAreNeitherHandedOutNorHeld) {
    PageObject* page = browser.newObject(browser.instance());
    host->shutdown();
    NPVariant out;
    VOID_TO_NPVARIANT(out);
    EXPECT_THROW(host->getNPVariant(&out, variant(FB::JSAPIPtr(api))), FB::object_invalidated);
    EXPECT_THROW(host->getNPVariant(&out, variant(VariantList())), FB::object_invalidated);
    EXPECT_EQ(out.type, NPVariantType_Void);
    NPVariant in;
    OBJECT_TO_NPVARIANT(page, in);
    variant arrived = host->getVariant(&in);
    EXPECT_EQ(std::dynamic_pointer_cast<FB::Npapi::NPObjectAPI>(arrived.cast<FB::JSObjectPtr>())->getNPObject(),
              nullptr);
    EXPECT_EQ(browser.refCount(page), 1u);
    // Scalars still convert: nothing of the browser's is touched.
    host->getNPVariant(&out, variant(3L));
    EXPECT_EQ(out.value.intValue, 3);
    browser.table()->releaseobject(page);
}
