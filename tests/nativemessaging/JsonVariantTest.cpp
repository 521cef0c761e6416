// JSON from the page to variants and results back: the types a page's arguments arrive as
// (numbers as doubles, as a browser hands them to a plug-in) and the JSON each result
// type becomes.

#include "JsonVariant.h"
#include "JSExceptions.h"
#include "JSAPI.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using namespace FB::NativeMessaging;
using FB::variant;
using FB::VariantList;
using FB::VariantMap;
using nlohmann::json;

TEST(JsonToVariant, ScalarsArriveAsScriptValuesDo) {
    EXPECT_TRUE(jsonToVariant(json(nullptr)).is_null());
    EXPECT_TRUE(jsonToVariant(json(true)).cast<bool>());
    EXPECT_FALSE(jsonToVariant(json(false)).cast<bool>());
    // Every number is a double, integral or not, as script numbers are.
    EXPECT_EQ(jsonToVariant(json::parse("3")).cast<double>(), 3.0);
    EXPECT_EQ(jsonToVariant(json::parse("-7")).cast<double>(), -7.0);
    EXPECT_EQ(jsonToVariant(json::parse("18446744073709551615")).cast<double>(), 18446744073709551615.0);
    EXPECT_EQ(jsonToVariant(json::parse("0.5")).cast<double>(), 0.5);
    EXPECT_EQ(jsonToVariant(json::parse("\"\\u0442\\u043e\\u043a\\u0435\\u043d\"")).cast<std::string>(),
              "\xD1\x82\xD0\xBE\xD0\xBA\xD0\xB5\xD0\xBD");
}

TEST(JsonToVariant, ArraysAndObjectsNest) {
    const variant v = jsonToVariant(json::parse(R"([1, "a", [true], {"k": null, "a": [2]}])"));
    const VariantList& list = v.cast<VariantList>();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].cast<double>(), 1.0);
    EXPECT_EQ(list[1].cast<std::string>(), "a");
    EXPECT_TRUE(list[2].cast<VariantList>().at(0).cast<bool>());
    const VariantMap& map = list[3].cast<VariantMap>();
    ASSERT_EQ(map.size(), 2u);
    EXPECT_TRUE(map.at("k").is_null());
    EXPECT_EQ(map.at("a").cast<VariantList>().at(0).cast<double>(), 2.0);
}

TEST(JsonToVariant, AnArgumentNumberConvertsLikeAScriptNumber) {
    // olvGetContainerName's integer conversion of a page's 2, and a name given as a number.
    EXPECT_EQ(jsonToVariant(json::parse("2")).convert_cast<long>(), 2);
    EXPECT_EQ(jsonToVariant(json::parse("12")).convert_cast<std::string>(), "12");
}

struct Out {
    const char* name;
    variant value;
    std::string json;
};

class VariantToJson : public ::testing::TestWithParam<Out> {};

TEST_P(VariantToJson, GivesThisText) {
    EXPECT_EQ(jsonText(variantToJson(GetParam().value)), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Results, VariantToJson,
    ::testing::Values(
        Out{"True", variant(true), "true"},
        Out{"Status", variant(-51L), "-51"},
        Out{"Count", variant(64UL), "64"},
        Out{"MaxCount", variant(4294967295UL), "4294967295"},
        Out{"Int", variant(7), "7"},
        Out{"Double", variant(0.25), "0.25"},
        Out{"Text", variant(std::string("1.1")), "\"1.1\""},
        Out{"WideText", variant(std::wstring(L"\u0442")), "\"\xD1\x82\""},
        Out{"Null", variant(FB::variant_detail::null()), "null"},
        Out{"List", variant(VariantList{variant(1L), variant(std::string("x"))}), "[1,\"x\"]"},
        Out{"Map", variant(VariantMap{{"b", variant(false)}, {"a", variant(2L)}}), "{\"a\":2,\"b\":false}"},
        // A container name is whatever bytes the token holds: the page sees U+FFFD for
        // bytes that are not UTF-8, and the answer still goes out.
        Out{"BytesThatAreNotUtf8", variant(std::string("a\xFF\xFE" "b")), "\"a\xEF\xBF\xBD\xEF\xBF\xBD" "b\""},
        Out{"ControlCharacters", variant(std::string("a\"\n\x01")), "\"a\\\"\\n\\u0001\""}),
    [](const ::testing::TestParamInfo<Out>& info) { return std::string(info.param.name); });

TEST(VariantToJsonObjects, AScriptableObjectCannotGoToThePage) {
    const variant object{FB::JSAPIPtr()};
    EXPECT_THROW(variantToJson(object), FB::script_error);
}

} // namespace

namespace {

// `levels` arrays (or objects) inside each other around a 1.
std::string nestedText(std::size_t levels, bool objects) {
    std::string text;
    for (std::size_t i = 0; i < levels; ++i)
        text += objects ? "{\"a\":" : "[";
    text += "1";
    for (std::size_t i = 0; i < levels; ++i)
        text += objects ? "}" : "]";
    return text;
}

variant nestedVariant(std::size_t levels) {
    variant value(1);
    for (std::size_t i = 0; i < levels; ++i)
        value = variant(VariantList{value});
    return value;
}

// Nesting costs a stack frame a level: past kMaxJsonDepth levels it is a script error, from
// the page (deep enough to overflow the stack without the bound) and to it.
TEST(JsonDepth, IsBoundedBothWays) {
    for (bool objects : {false, true}) {
        SCOPED_TRACE(objects ? "objects" : "arrays");
        EXPECT_NO_THROW(jsonToVariant(json::parse(nestedText(kMaxJsonDepth, objects))));
        for (std::size_t levels : {kMaxJsonDepth + 1, std::size_t(200000)}) {
            try {
                jsonToVariant(json::parse(nestedText(levels, objects)));
                ADD_FAILURE() << levels << " levels were taken";
            } catch (const FB::script_error& e) {
                EXPECT_EQ(std::string(e.what()), "The arguments are nested more than 64 levels deep");
            }
        }
    }
    EXPECT_THROW(jsonToVariantList(json::parse(nestedText(kMaxJsonDepth + 1, false))), FB::script_error);
    EXPECT_NO_THROW(jsonToVariantList(json::parse(nestedText(kMaxJsonDepth, false))));

    EXPECT_EQ(jsonText(variantToJson(nestedVariant(kMaxJsonDepth))), nestedText(kMaxJsonDepth, false));
    EXPECT_THROW(variantToJson(nestedVariant(kMaxJsonDepth + 1)), FB::script_error);
}

} // namespace
