#pragma once
// JSON from the page to variant arguments, and variant results back to JSON.
//
// Numbers from a page are JavaScript numbers, so every JSON number becomes a double, as a
// browser hands script numbers to a plug-in. Arrays become VariantList, objects VariantMap,
// null the script null. Results go back by their held type; a value that has no JSON form
// (a scriptable object, for one) raises FB::script_error.

#include "APITypes.h"
#include "variant.h"

#include <nlohmann/json.hpp>

namespace FB { namespace NativeMessaging {

// Arrays and objects nested deeper than this raise FB::script_error either way: no call of
// the plug-in takes more than a level or two, and each level costs a stack frame.
constexpr std::size_t kMaxJsonDepth = 64;

variant jsonToVariant(const nlohmann::json& value);
VariantList jsonToVariantList(const nlohmann::json& array);

// An empty variant (script undefined) has no JSON form either; callers leave the member out.
nlohmann::json variantToJson(const variant& value);

// JSON text for the browser. Bytes that are not UTF-8 (a container name is whatever the
// token holds) are written as U+FFFD, as a browser shows them to a page.
std::string jsonText(const nlohmann::json& value);

}} // namespace FB::NativeMessaging
