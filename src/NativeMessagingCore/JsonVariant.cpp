#include "JsonVariant.h"

#include "JSExceptions.h"
#include "utf8_tools.h"

#include <cstdint>
#include <string>

namespace FB { namespace NativeMessaging {

namespace {

// `depth` counts the arrays and objects around `value`.
variant toVariant(const nlohmann::json& value, std::size_t depth);

VariantList toVariantList(const nlohmann::json& array, std::size_t depth) {
    if (depth >= kMaxJsonDepth)
        throw script_error("The arguments are nested more than " + std::to_string(kMaxJsonDepth) +
                           " levels deep");
    VariantList list;
    list.reserve(array.size());
    for (const auto& element : array)
        list.push_back(toVariant(element, depth + 1));
    return list;
}

variant toVariant(const nlohmann::json& value, std::size_t depth) {
    switch (value.type()) {
    case nlohmann::json::value_t::null:
        return variant(variant_detail::null());
    case nlohmann::json::value_t::boolean:
        return variant(value.get<bool>());
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
    case nlohmann::json::value_t::number_float:
        return variant(value.get<double>());
    case nlohmann::json::value_t::string:
        return variant(value.get<std::string>());
    case nlohmann::json::value_t::array:
        return variant(toVariantList(value, depth));
    case nlohmann::json::value_t::object: {
        if (depth >= kMaxJsonDepth)
            throw script_error("The arguments are nested more than " + std::to_string(kMaxJsonDepth) +
                               " levels deep");
        VariantMap members;
        for (auto it = value.begin(); it != value.end(); ++it)
            members[it.key()] = toVariant(it.value(), depth + 1);
        return variant(members);
    }
    default:
        // Binary values and discarded parses never come out of a text parse.
        throw script_error("Unsupported JSON value");
    }
}

} // namespace

variant jsonToVariant(const nlohmann::json& value) {
    return toVariant(value, 0);
}

VariantList jsonToVariantList(const nlohmann::json& array) {
    return toVariantList(array, 0);
}

namespace {

template <typename T>
bool put(const variant& value, nlohmann::json& out) {
    if (!value.is_of_type<T>())
        return false;
    out = value.cast<T>();
    return true;
}

nlohmann::json toJson(const variant& value, std::size_t depth);

} // namespace

nlohmann::json variantToJson(const variant& value) {
    return toJson(value, 0);
}

namespace {

nlohmann::json toJson(const variant& value, std::size_t depth) {
    nlohmann::json out;
    if (value.is_null() || value.empty())
        return nullptr;
    if (put<bool>(value, out) || put<long>(value, out) || put<unsigned long>(value, out) ||
        put<int>(value, out) || put<unsigned int>(value, out) || put<short>(value, out) ||
        put<unsigned short>(value, out) || put<std::int64_t>(value, out) ||
        put<std::uint64_t>(value, out) || put<long long>(value, out) ||
        put<unsigned long long>(value, out) || put<double>(value, out) ||
        put<float>(value, out) || put<std::string>(value, out))
        return out;
    if (value.is_of_type<char>())
        return std::string(1, value.cast<char>());
    if (value.is_of_type<std::wstring>())
        return wstring_to_utf8(value.cast<std::wstring>());
    const bool isList = value.is_of_type<VariantList>();
    if ((isList || value.is_of_type<VariantMap>()) && depth >= kMaxJsonDepth)
        throw script_error("The answer is nested more than " + std::to_string(kMaxJsonDepth) + " levels deep");
    if (isList) {
        out = nlohmann::json::array();
        for (const variant& element : value.cast<VariantList>())
            out.push_back(toJson(element, depth + 1));
        return out;
    }
    if (value.is_of_type<VariantMap>()) {
        out = nlohmann::json::object();
        for (const auto& member : value.cast<VariantMap>())
            out[member.first] = toJson(member.second, depth + 1);
        return out;
    }
    throw script_error(std::string("A value of type ") + value.get_type().name() +
                       " cannot be passed to the page");
}

} // namespace

std::string jsonText(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}} // namespace FB::NativeMessaging
