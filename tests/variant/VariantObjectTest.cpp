// Converting reads whose targets are script objects, arrays and maps.

#include "FakeJSObject.h"
#include "JSAPIAuto.h"
#include "JSExceptions.h"
#include "variant.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

using FB::variant;
using orv::test::FakeJSObject;

class PluginObject : public FB::JSAPIAuto {};
class OtherPluginObject : public FB::JSAPIAuto {};

TEST(VariantObject, HandlesOfEveryKindFindTheirObject) {
    auto browserObject = FakeJSObject::create();
    EXPECT_EQ(variant(FB::JSObjectPtr(browserObject)).convert_cast<FB::JSObjectPtr>(), browserObject);
    EXPECT_EQ(variant(FB::JSAPIPtr(browserObject)).convert_cast<FB::JSObjectPtr>(), browserObject);
    EXPECT_EQ(variant(FB::JSAPIWeakPtr(browserObject)).convert_cast<FB::JSObjectPtr>(), browserObject);
}

TEST(VariantObject, AbsentObjectsGiveNullWithoutError) {
    FB::JSAPIWeakPtr gone;
    {
        auto object = FakeJSObject::create();
        gone = object;
    }
    EXPECT_EQ(variant(gone).convert_cast<FB::JSObjectPtr>(), nullptr);
    EXPECT_EQ(variant().convert_cast<FB::JSObjectPtr>(), nullptr);
    EXPECT_EQ(variant(FB::variant_detail::null()).convert_cast<FB::JSObjectPtr>(), nullptr);
}

TEST(VariantObject, NonObjectsAndWrongClassesAreBadCasts) {
    EXPECT_THROW((void)variant(5).convert_cast<FB::JSObjectPtr>(), FB::bad_variant_cast);
    EXPECT_THROW((void)variant(std::string("x")).convert_cast<FB::JSObjectPtr>(), FB::bad_variant_cast);
    FB::JSAPIPtr plugin = std::make_shared<PluginObject>();
    EXPECT_THROW((void)variant(plugin).convert_cast<FB::JSObjectPtr>(), FB::bad_variant_cast);
    EXPECT_THROW((void)variant(plugin).convert_cast<std::shared_ptr<OtherPluginObject>>(),
                 FB::bad_variant_cast);
    EXPECT_EQ(variant(plugin).convert_cast<std::shared_ptr<PluginObject>>(), plugin);
}

TEST(VariantObject, TheInnermostPluginObjectWins) {
    auto plugin = std::make_shared<PluginObject>();
    auto wrapper = FakeJSObject::create();
    wrapper->setWrapped(plugin);
    const variant v{FB::JSObjectPtr(wrapper)};
    EXPECT_EQ(v.convert_cast<std::shared_ptr<PluginObject>>(), plugin);
    // Asked for the browser object's own class, the wrapper itself comes back.
    EXPECT_EQ(v.convert_cast<FB::JSObjectPtr>(), wrapper);
    EXPECT_THROW((void)v.convert_cast<std::shared_ptr<OtherPluginObject>>(), FB::bad_variant_cast);

    // Held as exactly the handle asked for, the wrapper still gives way to the plug-in
    // object inside it; a wrapper of nothing stays itself.
    const variant asApi{FB::JSAPIPtr(wrapper)};
    EXPECT_EQ(asApi.convert_cast<FB::JSAPIPtr>(), plugin);
    EXPECT_EQ(variant(FB::JSAPIWeakPtr(wrapper)).convert_cast<FB::JSAPIPtr>(), plugin);
    auto plain = FakeJSObject::create();
    EXPECT_EQ(variant(FB::JSAPIPtr(plain)).convert_cast<FB::JSAPIPtr>(), plain);
}

TEST(VariantObject, ScriptArrayBecomesAListInOrder) {
    auto array = FakeJSObject::array({variant(1), variant(std::string("two")), variant(3.0)});
    const auto list = variant(FB::JSObjectPtr(array)).convert_cast<FB::VariantList>();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].cast<int>(), 1);
    EXPECT_EQ(list[1].cast<std::string>(), "two");
    EXPECT_EQ(list[2].cast<double>(), 3.0);

    FB::VariantList own{variant(7)};
    EXPECT_EQ(variant(own).convert_cast<FB::VariantList>().at(0).cast<int>(), 7);
}

TEST(VariantObject, ArrayLengthIsReadWithTheIntegerRule) {
    auto array = FakeJSObject::create();
    array->SetProperty("length", variant(2.0));  // scripts send numbers as doubles
    array->SetProperty(0, variant(std::string("a")));
    array->SetProperty(1, variant(std::string("b")));
    EXPECT_EQ(variant(FB::JSObjectPtr(array)).convert_cast<FB::VariantList>().size(), 2u);
}

TEST(VariantObject, ArrayLengthIsBoundedBeforeAnyElementIsRead) {
    // A page can hand over any object as an array, claiming any length. Nothing is read
    // beyond "length" when the claim is out of range; an element past the limit is
    // unreadable so that a conversion that reads on fails instead of running for hours.
    const long limit = FB::kMaxScriptArrayLength;
    const struct {
        variant length;
        std::string shown;
    } cases[] = {
        {variant(2147483647), "2147483647"},
        {variant(limit + 1), std::to_string(limit + 1)},
        {variant(4294967295.0), "4.29497e+09"},
        {variant(std::numeric_limits<double>::infinity()), "inf"},
        {variant(-1), "-1"},
        {variant(-2147483647.0 - 2), "-2.14748e+09"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        auto array = FakeJSObject::create();
        array->SetProperty("length", c.length);
        array->setUnreadable(std::to_string(limit + 1));
        const variant v{FB::JSObjectPtr(array)};
        const std::string expected =
            "Array length " + c.shown + " is out of range (0 to " + std::to_string(limit) + ")";
        try {
            (void)v.convert_cast<FB::VariantList>();
            ADD_FAILURE() << "converted to a list";
        } catch (const FB::invalid_arguments& e) {
            EXPECT_EQ(e.what(), expected);
        }
        try {
            (void)v.convert_cast<FB::JSObjectList>();
            ADD_FAILURE() << "converted to an object list";
        } catch (const FB::invalid_arguments& e) {
            EXPECT_EQ(e.what(), expected);
        }
        EXPECT_EQ(array->propertyReads(), 2);  // "length", once per conversion
    }
}

TEST(VariantObject, ArrayOfTheLimitsLengthIsReadInFull) {
    auto array = FakeJSObject::create();
    array->SetProperty("length", variant(static_cast<double>(FB::kMaxScriptArrayLength)));
    const auto list = variant(FB::JSObjectPtr(array)).convert_cast<FB::VariantList>();
    EXPECT_EQ(list.size(), static_cast<size_t>(FB::kMaxScriptArrayLength));
    EXPECT_TRUE(list.back().empty());  // the browser answers undefined for a hole
}

TEST(VariantObject, ArrayReadingStopsAtTheFirstElementTheBrowserCannotRead) {
    auto array = FakeJSObject::array({variant(1), variant(2), variant(3), variant(4), variant(5)});
    array->setUnreadable("2");
    const variant v{FB::JSObjectPtr(array)};
    try {
        (void)v.convert_cast<FB::VariantList>();
        ADD_FAILURE() << "converted with an unreadable element";
    } catch (const FB::script_error& e) {
        EXPECT_STREQ(e.what(), "2");  // the browser's own error, unchanged
    }
    EXPECT_EQ(array->propertyReads(), 4);  // "length", 0, 1 and 2: nothing after it

    auto objects = FakeJSObject::array({variant(FB::JSObjectPtr(FakeJSObject::create())), variant(),
                                        variant(FB::JSObjectPtr(FakeJSObject::create()))});
    objects->setUnreadable("1");
    EXPECT_THROW((void)variant(FB::JSObjectPtr(objects)).convert_cast<FB::JSObjectList>(), FB::script_error);
    EXPECT_EQ(objects->propertyReads(), 3);
}

TEST(VariantObject, ContainersFromNonObjectsOrNothingAreBadCasts) {
    const variant inputs[] = {variant(5), variant(std::string("[1]")), variant(),
                              variant(FB::variant_detail::null())};
    for (const auto& v : inputs) {
        EXPECT_THROW((void)v.convert_cast<FB::VariantList>(), FB::bad_variant_cast);
        EXPECT_THROW((void)v.convert_cast<FB::VariantMap>(), FB::bad_variant_cast);
        EXPECT_THROW((void)v.convert_cast<FB::JSObjectList>(), FB::bad_variant_cast);
    }
    try {
        (void)variant(5).convert_cast<FB::VariantList>();
        FAIL() << "a number converted to a list";
    } catch (const FB::bad_variant_cast& e) {
        EXPECT_EQ(e.to, typeid(FB::JSObjectPtr).name());
    }
}

TEST(VariantObject, ScriptObjectBecomesAMapOfItsMembers) {
    auto object = FakeJSObject::create();
    object->SetProperty("name", variant(std::string("key1")));
    object->SetProperty("size", variant(32));
    const auto map = variant(FB::JSObjectPtr(object)).convert_cast<FB::VariantMap>();
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.at("name").cast<std::string>(), "key1");
    EXPECT_EQ(map.at("size").cast<int>(), 32);
}

TEST(VariantObject, ArrayOfObjectsBecomesAnObjectList) {
    auto a = FakeJSObject::create();
    auto b = FakeJSObject::create();
    auto array = FakeJSObject::array({variant(FB::JSObjectPtr(a)), variant(FB::JSObjectPtr(b))});
    const auto list = variant(FB::JSObjectPtr(array)).convert_cast<FB::JSObjectList>();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0], a);
    EXPECT_EQ(list[1], b);

    auto mixed = FakeJSObject::array({variant(FB::JSObjectPtr(a)), variant(4)});
    EXPECT_THROW((void)variant(FB::JSObjectPtr(mixed)).convert_cast<FB::JSObjectList>(),
                 FB::bad_variant_cast);
}

TEST(VariantObject, CanBeTypeTriesTheConversion) {
    auto object = FakeJSObject::create();
    EXPECT_TRUE(variant(FB::JSObjectPtr(object)).can_be_type<FB::JSObjectPtr>());
    EXPECT_TRUE(variant().can_be_type<FB::JSObjectPtr>());
    EXPECT_FALSE(variant(1).can_be_type<FB::JSObjectPtr>());
}

} // namespace
