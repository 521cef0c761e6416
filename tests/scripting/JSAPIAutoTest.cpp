// JSAPIAuto as the adapters drive it: registries, method and property wrappers, zones,
// dynamic attributes, method objects and invalidation.

#include "FakeJSObject.h"
#include "JSAPIAuto.h"
#include "JSFunction.h"
#include "utf8_tools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

using FB::variant;
using FB::VariantList;
using orv::test::FakeJSObject;

namespace {

// A scriptable object with one member function per wrapper shape.
class SampleAPI : public FB::JSAPIAuto {
public:
    SampleAPI() : FB::JSAPIAuto("<sample>") {
        registerMethod("ping", FB::make_method(this, &SampleAPI::ping));
        registerMethod("pair", FB::make_method(this, &SampleAPI::pair));
        registerMethod("upper", FB::make_method(this, &SampleAPI::upper));
        registerMethod("repeat", FB::make_method(this, &SampleAPI::repeat));
        registerMethod("twice", FB::make_method(this, &SampleAPI::twice));
        registerMethod("note", FB::make_method(this, &SampleAPI::note));
        registerMethod("exactLong", FB::make_method(this, &SampleAPI::exactLong));
        registerProperty("count", FB::make_property(this, &SampleAPI::getCount, &SampleAPI::setCount));
        registerProperty("label", FB::make_property(this, &SampleAPI::getLabel));
        registerMethod("numberInside", FB::make_method(this, &SampleAPI::numberInside));
        registerMethod("textInside", FB::make_method(this, &SampleAPI::textInside));
        registerMethod("refusedText", FB::make_method(this, &SampleAPI::refusedText));
        registerProperty("overflowing",
                         FB::PropertyFunctors([] { return variant(variant(1e10).convert_cast<long>()); },
                                              [](const variant&) {}));
    }

    int pings = 0;
    std::string lastNote;
    long count = 0;

    long ping() { return ++pings; }
    VariantList pair(const variant& a, const variant& b) { return VariantList{a, b}; }
    std::string upper(const std::string& s) {
        std::string out = s;
        for (char& c : out)
            c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        return out;
    }
    std::string repeat(const std::string& s, long n) {
        std::string out;
        for (long i = 0; i < n; ++i)
            out += s;
        return out;
    }
    long twice(long n) { return 2 * n; }
    void note(const std::string& s) { lastNote = s; }
    // Reads its argument with the exact-type cast: a wrong type escapes as bad_variant_cast.
    long exactLong(const variant& v) { return v.cast<long>(); }
    // Convert their argument themselves, as the product's methods do.
    long numberInside(const variant& v) { return v.convert_cast<long>(); }
    std::string textInside(const variant& v) { return v.convert_cast<std::string>(); }
    std::string refusedText(const variant&) { throw FB::text_conversion_error("MultiByteToWideChar: refused"); }

    long getCount() { return count; }
    void setCount(long value) { count = value; }
    std::string getLabel() { return "sample"; }

    void disableDynamicAttributes() { m_allowDynamicAttributes = false; }
    void disableMethodObjects() { m_allowMethodObjects = false; }
};

std::shared_ptr<SampleAPI> makeSample() {
    return std::make_shared<SampleAPI>();
}

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const FB::script_error& e) {
        return e.what();
    }
    return "<no script_error>";
}

std::string typeName(const std::type_info& t) {
    return t.name();
}

} // namespace

TEST(JSAPIExceptions, MessagesAreExact) {
    EXPECT_STREQ(FB::script_error("boom").what(), "boom");
    EXPECT_STREQ(FB::invalid_arguments().what(), "Invalid Arguments");
    EXPECT_STREQ(FB::invalid_arguments("Bad").what(), "Bad");
    EXPECT_STREQ(FB::invalid_member("frob").what(), "The specified member does not exist: frob");
    EXPECT_STREQ(FB::object_invalidated().what(), "This object is no longer valid");
}

struct WrapperCase {
    const char* method;
    VariantList args;
    const char* expectedError;  // null: the call succeeds
};

class MethodWrapperErrors : public ::testing::TestWithParam<WrapperCase> {};

TEST_P(MethodWrapperErrors, ArgumentCountAndPresenceMessages) {
    const WrapperCase& c = GetParam();
    auto api = makeSample();
    std::string message = messageOf([&] { api->Invoke(c.method, c.args); });
    if (c.expectedError)
        EXPECT_EQ(message, c.expectedError);
    else
        EXPECT_EQ(message, "<no script_error>");
}

INSTANTIATE_TEST_SUITE_P(
    Table, MethodWrapperErrors,
    ::testing::Values(
        WrapperCase{"pair", {variant(1), variant(2), variant(3)}, "Too many arguments, expected 2."},
        WrapperCase{"upper", {variant("a"), variant("b")}, "Too many arguments, expected 1."},
        WrapperCase{"upper", {}, "Error: Argument 1is not optional."},
        // The last parameter is read first, so its absence is what the caller hears of.
        WrapperCase{"repeat", {variant(FB::JSAPIPtr())}, "Error: Argument 2is not optional."},
        WrapperCase{"repeat", {}, "Error: Argument 2is not optional."},
        WrapperCase{"pair", {}, nullptr},
        WrapperCase{"repeat", {variant("ab"), variant("3")}, nullptr},
        WrapperCase{"nosuch", {}, "The specified member does not exist: nosuch"}));

TEST(MethodWrappers, VariantParametersTakeMissingArgumentsAsEmpty) {
    auto api = makeSample();
    VariantList both = api->Invoke("pair", {}).cast<VariantList>();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_TRUE(both[0].empty());
    EXPECT_TRUE(both[1].empty());

    VariantList one = api->Invoke("pair", {variant(7)}).cast<VariantList>();
    EXPECT_EQ(one[0].cast<int>(), 7);
    EXPECT_TRUE(one[1].empty());
}

TEST(MethodWrappers, ZeroParameterMethodWithArgumentsDoesNotRun) {
    auto api = makeSample();
    EXPECT_TRUE(api->Invoke("ping", {variant(1)}).empty());
    EXPECT_EQ(api->pings, 0);
    EXPECT_EQ(api->Invoke("ping", {}).cast<long>(), 1);
    EXPECT_EQ(api->pings, 1);
}

TEST(MethodWrappers, ArgumentsAreConvertedAndResultsStored) {
    auto api = makeSample();
    EXPECT_EQ(api->Invoke("upper", {variant("abc")}).cast<std::string>(), "ABC");
    EXPECT_EQ(api->Invoke("repeat", {variant("ab"), variant("3")}).cast<std::string>(), "ababab");
    EXPECT_EQ(api->Invoke("twice", {variant(" 21xyz")}).cast<long>(), 42);
    EXPECT_EQ(api->Invoke("twice", {variant(true)}).cast<long>(), 2);
    // A member function without result gives an empty value.
    EXPECT_TRUE(api->Invoke("note", {variant(std::wstring(L"hi"))}).empty());
    EXPECT_EQ(api->lastNote, "hi");
}

TEST(MethodWrappers, ConversionFailureNamesTypesAndPosition) {
    auto api = makeSample();
    FB::JSObjectPtr object = FakeJSObject::create();
    std::string message = messageOf([&] { api->Invoke("upper", {variant(object)}); });
    EXPECT_EQ(message, "Invalid argument conversion from " + typeName(typeid(FB::JSObjectPtr)) + " to " +
                           typeName(typeid(std::string)) + " at index 1");

    message = messageOf([&] { api->Invoke("repeat", {variant(object), variant("many")}); });
    EXPECT_EQ(message, "Invalid argument conversion from " + typeName(typeid(std::string)) + " to " +
                           typeName(typeid(long)) + " at index 2");
}

TEST(MethodWrappers, ConversionFailureIsInvalidArguments) {
    auto api = makeSample();
    EXPECT_THROW(api->Invoke("twice", {variant("none")}), FB::invalid_arguments);
    EXPECT_THROW(api->Invoke("upper", {}), FB::invalid_arguments);
    EXPECT_THROW(api->Invoke("pair", {variant(1), variant(2), variant(3)}), FB::invalid_arguments);
}

TEST(JSAPIAutoInvoke, BadCastInsideMethodBecomesCouldNotConvert) {
    auto api = makeSample();
    std::string message = messageOf([&] { api->Invoke("exactLong", {variant(5)}); });
    EXPECT_EQ(message, "Could not convert from " + typeName(typeid(int)) + " to " + typeName(typeid(long)));
    EXPECT_EQ(api->Invoke("exactLong", {variant(5L)}).cast<long>(), 5);
}

TEST(JSAPIAutoBuiltins, DescriptionAndValidity) {
    auto api = makeSample();
    EXPECT_EQ(api->Invoke("toString", {}).cast<std::string>(), "<sample>");
    EXPECT_EQ(api->GetProperty("value").cast<std::string>(), "<sample>");
    EXPECT_TRUE(api->GetProperty("valid").cast<bool>());
    // Getter-only: the write is accepted and changes nothing.
    api->SetProperty("valid", variant(false));
    EXPECT_TRUE(api->GetProperty("valid").cast<bool>());

    auto plain = std::make_shared<FB::JSAPIAuto>();
    EXPECT_EQ(plain->Invoke("toString", {}).cast<std::string>(), "<JSAPI-Auto Javascript Object>");
}

TEST(JSAPIAutoBuiltins, AttributesThroughScriptMethods) {
    auto api = makeSample();
    EXPECT_TRUE(api->Invoke("getAttribute", {variant("colour")}).empty());
    EXPECT_TRUE(api->Invoke("setAttribute", {variant("colour"), variant("red")}).empty());
    EXPECT_EQ(api->Invoke("getAttribute", {variant("colour")}).cast<std::string>(), "red");
    EXPECT_EQ(api->GetProperty("colour").cast<std::string>(), "red");

    api->registerAttribute("fixed", variant(1), true);
    EXPECT_EQ(messageOf([&] { api->Invoke("setAttribute", {variant("fixed"), variant(2)}); }),
              "Cannot set read-only property fixed");
    EXPECT_EQ(api->getAttribute("fixed").cast<int>(), 1);
}

TEST(JSAPIAutoProperties, SetterConvertsAndReportsConversionFailures) {
    auto api = makeSample();
    api->SetProperty("count", variant("12"));
    EXPECT_EQ(api->count, 12);
    EXPECT_EQ(api->GetProperty("count").cast<long>(), 12);
    EXPECT_EQ(messageOf([&] { api->SetProperty("count", variant(FB::VariantList())); }),
              "Could not convert from " + typeName(typeid(FB::VariantList)) + " to " + typeName(typeid(long)));
    EXPECT_EQ(api->count, 12);
}

TEST(JSAPIAutoDynamicAttributes, UnknownNamesReadEmptyAndWritesCreateAttributes) {
    auto api = makeSample();
    EXPECT_TRUE(api->HasProperty("colour"));
    EXPECT_TRUE(api->GetProperty("colour").empty());

    api->SetProperty("colour", variant("blue"));
    EXPECT_EQ(api->GetProperty("colour").cast<std::string>(), "blue");
    std::vector<std::string> names;
    api->getMemberNames(names);
    EXPECT_NE(std::find(names.begin(), names.end(), "colour"), names.end());

    // Indexed members are attributes named by the decimal index.
    EXPECT_TRUE(api->HasProperty(3));
    EXPECT_TRUE(api->GetProperty(3).empty());
    api->SetProperty(3, variant(9));
    EXPECT_EQ(api->GetProperty(3).cast<int>(), 9);
    EXPECT_EQ(api->getAttribute("3").cast<int>(), 9);
}

TEST(JSAPIAutoDynamicAttributes, ReservedNamesAreNotCaptured) {
    auto api = makeSample();
    for (const char* name : {"offsetWidth", "offsetHeight", "width", "height", "attributes", "nodeType",
                             "namespaceURI", "localName", "wrappedJSObject", "prototype", "style", "id",
                             "constructor"})
        EXPECT_FALSE(api->HasProperty(name)) << name;
    api->setReserved("secret");
    EXPECT_FALSE(api->HasProperty("secret"));
    // A reserved name that is registered is still a property.
    api->registerAttribute("id", variant("x"), true);
    EXPECT_TRUE(api->HasProperty("id"));
}

TEST(JSAPIAutoDynamicAttributes, WithoutThemUnknownNamesAreErrors) {
    auto api = makeSample();
    api->disableDynamicAttributes();
    EXPECT_FALSE(api->HasProperty("colour"));
    EXPECT_FALSE(api->HasProperty(0));
    EXPECT_EQ(messageOf([&] { api->GetProperty("colour"); }), "The specified member does not exist: colour");
    EXPECT_EQ(messageOf([&] { api->SetProperty("colour", variant(1)); }),
              "The specified member does not exist: colour");
    EXPECT_EQ(messageOf([&] { api->GetProperty(4); }), "The specified member does not exist: 4");
    EXPECT_EQ(messageOf([&] { api->SetProperty(4, variant(1)); }), "The specified member does not exist: 4");

    api->registerAttribute("fixed", variant(1), true);
    api->registerAttribute("open", variant(1), false);
    EXPECT_EQ(messageOf([&] { api->SetProperty("fixed", variant(2)); }),
              "The specified member does not exist: fixed");
    api->SetProperty("open", variant(2));
    EXPECT_EQ(api->GetProperty("open").cast<int>(), 2);
    EXPECT_EQ(api->GetProperty("fixed").cast<int>(), 1);
    EXPECT_TRUE(api->HasProperty("fixed"));
}

TEST(JSAPIAutoMethodObjects, SameFunctionObjectForRepeatedReads) {
    auto api = makeSample();
    EXPECT_TRUE(api->HasProperty("upper"));
    EXPECT_TRUE(api->HasMethodObject("upper"));
    variant first = api->GetProperty("upper");
    variant second = api->GetProperty("upper");
    ASSERT_TRUE(first.is_of_type<FB::JSAPIPtr>());
    EXPECT_EQ(first.cast<FB::JSAPIPtr>(), second.cast<FB::JSAPIPtr>());

    FB::JSAPIPtr function = first.cast<FB::JSAPIPtr>();
    EXPECT_TRUE(function->HasMethod(""));
    EXPECT_EQ(function->Invoke("", {variant("abc")}).cast<std::string>(), "ABC");
    EXPECT_EQ(std::dynamic_pointer_cast<FB::JSFunction>(function)->call({variant("x")}).cast<std::string>(), "X");
    // The function object is a scriptable object of its own.
    EXPECT_EQ(function->Invoke("toString", {}).cast<std::string>(), "<JSAPI-Auto Javascript Object>");
}

TEST(JSAPIAutoMethodObjects, DisabledMethodObjectsLeaveMethodsOutOfProperties) {
    auto api = makeSample();
    api->disableMethodObjects();
    api->disableDynamicAttributes();
    EXPECT_FALSE(api->HasMethodObject("upper"));
    EXPECT_FALSE(api->HasProperty("upper"));
    EXPECT_EQ(messageOf([&] { api->GetProperty("upper"); }), "The specified member does not exist: upper");
}

TEST(JSAPIAutoMethodObjects, FunctionOutlivingItsOwnerFails) {
    auto api = makeSample();
    FB::JSAPIPtr function = api->GetMethodObject("ping");
    std::weak_ptr<SampleAPI> watch = api;
    api.reset();
    EXPECT_TRUE(watch.expired());  // the cache holds functions, functions do not hold the owner
    EXPECT_EQ(messageOf([&] { function->Invoke("", {}); }), "Invalid JSAPI object");
}

TEST(JSAPIAutoZones, MembersRegisteredInHigherZoneAreHiddenBelowIt) {
    auto api = makeSample();
    {
        FB::scoped_zonelock zone(api, FB::SecurityScope_Private);
        api->registerMethod("admin", FB::make_method(api.get(), &SampleAPI::ping));
        api->registerAttribute("hidden", variant(1), false);
        EXPECT_EQ(api->getZone(), FB::SecurityScope_Private);
    }
    EXPECT_EQ(api->getZone(), FB::SecurityScope_Public);
    EXPECT_FALSE(api->HasMethod("admin"));
    EXPECT_EQ(messageOf([&] { api->Invoke("admin", {}); }), "The specified member does not exist: admin");
    EXPECT_EQ(messageOf([&] { api->GetMethodObject("admin"); }), "The specified member does not exist: admin");
    EXPECT_TRUE(api->GetProperty("hidden").empty());

    std::vector<std::string> names;
    api->getMemberNames(names);
    EXPECT_EQ(std::find(names.begin(), names.end(), "admin"), names.end());
    const size_t publicCount = api->getMemberCount();
    EXPECT_EQ(publicCount, names.size());

    FB::scoped_zonelock zone(api, FB::SecurityScope_Private);
    EXPECT_TRUE(api->HasMethod("admin"));
    EXPECT_EQ(api->Invoke("admin", {}).cast<long>(), 1);
    EXPECT_EQ(api->GetProperty("hidden").cast<int>(), 1);
    EXPECT_EQ(api->getMemberCount(), publicCount + 2);
}

TEST(JSAPIAutoZones, MemberNamesInNameOrder) {
    auto api = makeSample();
    std::vector<std::string> names{"stale"};
    api->getMemberNames(names);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
    EXPECT_EQ(std::find(names.begin(), names.end(), "stale"), names.end());
    for (const char* expected : {"toString", "getAttribute", "setAttribute", "value", "valid", "upper", "count"})
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;

    std::vector<std::wstring> wide;
    api->getMemberNames(wide);
    EXPECT_EQ(wide.size(), names.size());
    EXPECT_EQ(wide.front(), std::wstring(names.front().begin(), names.front().end()));
}

TEST(JSAPIAutoZones, MethodObjectsAreCachedPerZoneAndCallInTheirZone) {
    auto api = makeSample();
    {
        FB::scoped_zonelock zone(api, FB::SecurityScope_Private);
        api->registerMethod("admin", FB::make_method(api.get(), &SampleAPI::ping));
    }
    FB::JSAPIPtr publicUpper = api->GetMethodObject("upper");
    FB::JSAPIPtr privateUpper;
    FB::JSAPIPtr privateAdmin;
    {
        FB::scoped_zonelock zone(api, FB::SecurityScope_Private);
        privateUpper = api->GetMethodObject("upper");
        privateAdmin = api->GetMethodObject("admin");
        EXPECT_EQ(api->GetMethodObject("admin"), privateAdmin);
    }
    EXPECT_NE(publicUpper, privateUpper);
    EXPECT_EQ(api->GetMethodObject("upper"), publicUpper);
    // Handed out in the private zone, the function calls with those rights from anywhere.
    EXPECT_EQ(privateAdmin->Invoke("", {}).cast<long>(), 1);
    EXPECT_EQ(api->getZone(), FB::SecurityScope_Public);
}

TEST(JSAPIAutoZones, DefaultZone) {
    auto api = std::make_shared<FB::JSAPIAuto>(FB::SecurityScope_Protected, "<z>");
    EXPECT_EQ(api->getDefaultZone(), FB::SecurityScope_Protected);
    EXPECT_EQ(api->getZone(), FB::SecurityScope_Protected);
    // The built-ins are registered in the public zone whatever the object's zone.
    api->setDefaultZone(FB::SecurityScope_Public);
    EXPECT_EQ(api->getZone(), FB::SecurityScope_Public);
    EXPECT_EQ(api->Invoke("toString", {}).cast<std::string>(), "<z>");
}

TEST(JSAPIAutoRegistry, UnregisterRemovesOnlyThatKindOfMember) {
    auto api = makeSample();
    api->unregisterProperty("upper");  // a method, not a property: nothing happens
    EXPECT_TRUE(api->HasMethod("upper"));
    api->unregisterMethod("upper");
    EXPECT_FALSE(api->HasMethod("upper"));
    EXPECT_EQ(messageOf([&] { api->Invoke("upper", {variant("a")}); }), "The specified member does not exist: upper");

    api->unregisterProperty(std::wstring(L"label"));
    api->disableDynamicAttributes();
    EXPECT_FALSE(api->HasProperty("label"));

    api->registerMethod(std::wstring(L"again"), FB::make_method(api.get(), &SampleAPI::ping));
    EXPECT_TRUE(api->HasMethod(std::wstring(L"again")));
}

TEST(JSAPIAutoInvalidate, EveryMemberFailsAfterwards) {
    auto api = makeSample();
    api->invalidate();
    EXPECT_FALSE(api->HasMethod("ping"));
    EXPECT_FALSE(api->HasMethodObject("ping"));
    EXPECT_FALSE(api->HasProperty("count"));
    EXPECT_FALSE(api->HasProperty(0));
    EXPECT_TRUE(api->HasEvent("onload"));
    const std::string invalid = "This object is no longer valid";
    EXPECT_EQ(messageOf([&] { api->Invoke("ping", {}); }), invalid);
    EXPECT_EQ(messageOf([&] { api->GetProperty("count"); }), invalid);
    EXPECT_EQ(messageOf([&] { api->GetProperty(1); }), invalid);
    EXPECT_EQ(messageOf([&] { api->SetProperty("count", variant(1)); }), invalid);
    EXPECT_EQ(messageOf([&] { api->SetProperty(1, variant(1)); }), invalid);
    EXPECT_EQ(messageOf([&] { api->GetMethodObject("ping"); }), invalid);
    EXPECT_EQ(api->pings, 0);
}

TEST(JSAPIAutoWideForms, ConvertNamesToUtf8) {
    auto api = makeSample();
    EXPECT_EQ(api->Invoke(std::wstring(L"upper"), {variant("q")}).cast<std::string>(), "Q");
    api->SetProperty(std::wstring(L"\u0446\u0432\u0435\u0442"), variant(5));
    EXPECT_EQ(api->GetProperty("\xD1\x86\xD0\xB2\xD0\xB5\xD1\x82").cast<int>(), 5);
    EXPECT_EQ(api->GetProperty(std::wstring(L"\u0446\u0432\u0435\u0442")).cast<int>(), 5);
    EXPECT_TRUE(api->HasProperty(std::wstring(L"count")));
    EXPECT_TRUE(api->HasMethodObject(std::wstring(L"upper")));
    EXPECT_EQ(api->GetMethodObject(std::wstring(L"upper")), api->GetMethodObject("upper"));
}

namespace {

// A member that unregisters or replaces itself while it runs. What it owns (here `state`,
// held only by the member) must live until its run ends. The member reads the watch and
// writes its finding through globals, so nothing it touches after the change is its own.
enum class MemberKind { Method, Getter, Setter };
enum class SelfChange { Unregister, Replace };

std::weak_ptr<int> g_memberState;
bool g_stateAliveAfterChange = false;

void changeMember(FB::JSAPIAuto& api, MemberKind kind, SelfChange change) {
    if (kind == MemberKind::Method) {
        if (change == SelfChange::Unregister)
            api.unregisterMethod("self");
        else
            api.registerMethod("self", [](const VariantList&) { return variant(); });
    } else {
        if (change == SelfChange::Unregister)
            api.unregisterProperty("self");
        else
            api.registerProperty("self", FB::PropertyFunctors([] { return variant(); }, [](const variant&) {}));
    }
}

void registerSelfChanging(FB::JSAPIAuto& api, MemberKind kind, SelfChange change, std::shared_ptr<int> state) {
    FB::JSAPIAuto* target = &api;
    auto run = [target, kind, change, state]() {
        const int value = *state;
        FB::JSAPIAuto* const owner = target;
        const MemberKind k = kind;
        const SelfChange c = change;
        changeMember(*owner, k, c);
        g_stateAliveAfterChange = !g_memberState.expired();
        return variant(value);
    };
    if (kind == MemberKind::Method) {
        api.registerMethod("self", [run](const VariantList&) { return run(); });
    } else if (kind == MemberKind::Getter) {
        api.registerProperty("self", FB::PropertyFunctors(run, [](const variant&) {}));
    } else {
        api.registerProperty("self", FB::PropertyFunctors([] { return variant(); },
                                                          [run](const variant&) { run(); }));
    }
}

} // namespace

TEST(JSAPIAutoRegistry, AMemberThatUnregistersOrReplacesItselfFinishesItsRun) {
    const struct {
        const char* label;
        MemberKind kind;
        SelfChange change;
    } cases[] = {
        {"method unregisters itself", MemberKind::Method, SelfChange::Unregister},
        {"method replaces itself", MemberKind::Method, SelfChange::Replace},
        {"getter unregisters its property", MemberKind::Getter, SelfChange::Unregister},
        {"getter replaces its property", MemberKind::Getter, SelfChange::Replace},
        {"setter unregisters its property", MemberKind::Setter, SelfChange::Unregister},
        {"setter replaces its property", MemberKind::Setter, SelfChange::Replace},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto api = std::make_shared<FB::JSAPIAuto>();
        auto state = std::make_shared<int>(7);
        g_memberState = state;
        registerSelfChanging(*api, c.kind, c.change, std::move(state));
        g_stateAliveAfterChange = false;
        variant result;
        if (c.kind == MemberKind::Method)
            result = api->Invoke("self", {});
        else if (c.kind == MemberKind::Getter)
            result = api->GetProperty("self");
        else
            api->SetProperty("self", variant(1));
        EXPECT_TRUE(g_stateAliveAfterChange) << "the running member was destroyed under it";
        if (c.kind != MemberKind::Setter) {
            EXPECT_EQ(result.cast<int>(), 7);
        }
        // The change took effect, and the old member is gone once its run has ended.
        EXPECT_TRUE(g_memberState.expired());
        if (c.kind == MemberKind::Method) {
            EXPECT_EQ(api->HasMethod("self"), c.change == SelfChange::Replace);
        }
    }
}

namespace {

// The message of the FB::invalid_arguments an action ends with, or what else happened.
std::string invalidArgumentsOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const FB::invalid_arguments& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("<escaped as ") + typeid(e).name() + ": " + e.what() + ">";
    }
    return "<nothing thrown>";
}

struct ValueFailureCase {
    const char* label;
    std::function<void(SampleAPI&)> action;
    std::string message;
};

void expectInvalidArguments(const std::vector<ValueFailureCase>& cases) {
    for (const auto& c : cases) {
        auto api = makeSample();
        EXPECT_EQ(invalidArgumentsOf([&] { c.action(*api); }), c.message) << c.label;
        EXPECT_EQ(api->count, 0) << c.label;
    }
}

} // namespace

// Numbers a page can send that no 32-bit integer holds, and text the conversion refuses,
// end the call as script errors like any other failed conversion, from every path.
TEST(JSAPIAutoConversionFailures, ValuesThatDoNotFitBecomeInvalidArguments) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string positive = "bad numeric conversion: positive overflow";
    const std::string negative = "bad numeric conversion: negative overflow";
    expectInvalidArguments({
        {"typed parameter, 2^31", [](SampleAPI& a) { a.Invoke("twice", {variant(2147483648.0)}); },
         "Invalid argument conversion at index 1: " + positive},
        {"typed parameter, Infinity", [&](SampleAPI& a) { a.Invoke("twice", {variant(inf)}); },
         "Invalid argument conversion at index 1: " + positive},
        {"typed parameter, -Infinity", [&](SampleAPI& a) { a.Invoke("twice", {variant(-inf)}); },
         "Invalid argument conversion at index 1: " + negative},
        {"typed parameter, unsigned", [](SampleAPI& a) { a.Invoke("twice", {variant(4294967295UL)}); },
         "Invalid argument conversion at index 1: " + positive},
        {"typed parameter, 64-bit", [](SampleAPI& a) { a.Invoke("twice", {variant(-(1LL << 40))}); },
         "Invalid argument conversion at index 1: " + negative},
        {"second parameter", [](SampleAPI& a) { a.Invoke("repeat", {variant("ab"), variant(1e12)}); },
         "Invalid argument conversion at index 2: " + positive},
        {"typed parameter, NaN", [&](SampleAPI& a) { a.Invoke("twice", {variant(nan)}); },
         "Invalid argument conversion from " + typeName(typeid(double)) + " to " + typeName(typeid(long)) +
             " at index 1"},
        {"through the method object",
         [&](SampleAPI& a) { a.GetMethodObject("twice")->Invoke("", {variant(inf)}); },
         "Invalid argument conversion at index 1: " + positive},
        {"converted inside the method", [](SampleAPI& a) { a.Invoke("numberInside", {variant(2147483648.0)}); },
         "Could not convert a number: " + positive},
        {"NaN converted inside the method", [&](SampleAPI& a) { a.Invoke("numberInside", {variant(nan)}); },
         "Could not convert from " + typeName(typeid(double)) + " to " + typeName(typeid(long))},
        {"getter", [](SampleAPI& a) { a.GetProperty("overflowing"); }, "Could not convert a number: " + positive},
        {"setter", [&](SampleAPI& a) { a.SetProperty("count", variant(-inf)); },
         "Could not convert a number: " + negative},
        {"text refused inside the method", [](SampleAPI& a) { a.Invoke("refusedText", {}); },
         "Could not convert text: MultiByteToWideChar: refused"},
    });
}

#ifndef _WIN32
// Wide text is UTF-32 here: a lone surrogate (which a UTF-16 browser string can carry) or a
// value past U+10FFFF has no UTF-8 form. Windows turns them into U+FFFD instead.
TEST(JSAPIAutoConversionFailures, WideTextWithoutAUtf8FormBecomesInvalidArguments) {
    const std::wstring lone = L"a" + std::wstring(1, wchar_t(0xDC00));
    const std::wstring beyond = std::wstring(1, static_cast<wchar_t>(-65));
    const std::string loneMessage = "wstring_to_utf8: lone surrogate U+DC00 at position 1";
    expectInvalidArguments({
        {"typed parameter", [&](SampleAPI& a) { a.Invoke("upper", {variant(lone)}); },
         "Invalid argument conversion at index 1: " + loneMessage},
        {"built-in getAttribute", [&](SampleAPI& a) { a.Invoke("getAttribute", {variant(lone)}); },
         "Invalid argument conversion at index 1: " + loneMessage},
        {"built-in setAttribute", [&](SampleAPI& a) { a.Invoke("setAttribute", {variant(lone), variant(1)}); },
         "Invalid argument conversion at index 1: " + loneMessage},
        {"converted inside the method", [&](SampleAPI& a) { a.Invoke("textInside", {variant(beyond)}); },
         "Could not convert text: wstring_to_utf8: invalid code point U+FFFFFFBF at position 0"},
    });
}
#endif
