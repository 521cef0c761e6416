#pragma once
// convert_cast: the converting read of a variant. The rules for each target live in
// variant_conversions.cpp; object targets need the JSAPI classes complete where they are
// used (include JSObject.h before calling convert_cast for a handle or a container).

#include "variant.h"

#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>

namespace FB {

// The most elements a script array may claim when it is read into a list (VariantList,
// JSObjectList); a longer or negative "length" is refused with FB::invalid_arguments before
// any element is read. The arrays pages pass hold a few values; without a bound an object
// claiming a length of 2147483647 kept the browser reading for 2^31 elements while the
// list grew towards tens of GiB. At the limit the list takes 16 MiB (two words an element)
// and the read, one browser call an element, ends within about a second.
constexpr long kMaxScriptArrayLength = 1L << 20;

namespace variant_detail {

// Targets without rules of their own: the held value when it is exactly that type.
template <typename T>
struct converter {
    static T convert(const variant& v) { return v.cast<T>(); }
};

template <>
struct converter<variant> {
    static variant convert(const variant& v) { return v; }
};

// The program's integer target: a 32-bit signed value in a long.
template <>
struct converter<long> {
    static long convert(const variant& v);
};

template <>
struct converter<bool> {
    static bool convert(const variant& v);
};

template <>
struct converter<std::string> {
    static std::string convert(const variant& v);
};

template <>
struct converter<std::wstring> {
    static std::wstring convert(const variant& v);
};

template <>
struct converter<VariantList> {
    static VariantList convert(const variant& v);
};

template <>
struct converter<VariantMap> {
    static VariantMap convert(const variant& v);
};

template <>
struct converter<JSObjectList> {
    static JSObjectList convert(const variant& v);
};

// The object a variant refers to: a JSObjectPtr, a locked JSAPIWeakPtr, or a JSAPIPtr.
// Empty and null give a null handle; any other held type raises bad_variant_cast.
JSAPIPtr heldObject(const variant& v);
// The plug-in object a browser-side JSObject wraps; null for anything else.
JSAPIPtr wrappedPluginObject(const JSAPIPtr& object);

template <typename T>
struct converter<std::shared_ptr<T>> {
    static std::shared_ptr<T> convert(const variant& v) {
        if constexpr (!std::is_base_of<JSAPI, T>::value) {
            return v.cast<std::shared_ptr<T>>();
        } else {
            // A handle of exactly the asked-for class is accepted as it is held (a
            // subclass handle is no JSAPIPtr), but still goes through the rules below.
            JSAPIPtr held = v.is_of_type<std::shared_ptr<T>>()
                                ? JSAPIPtr(v.cast<std::shared_ptr<T>>())
                                : heldObject(v);
            if (!held)
                return nullptr;
            // The innermost plug-in object wins over the browser object that wraps it.
            if (JSAPIPtr inner = wrappedPluginObject(held))
                if (auto wanted = std::dynamic_pointer_cast<T>(inner))
                    return wanted;
            if (auto wanted = std::dynamic_pointer_cast<T>(held))
                return wanted;
            throw bad_variant_cast(v.get_type(), typeid(std::shared_ptr<T>));
        }
    }
};

} // namespace variant_detail
} // namespace FB
