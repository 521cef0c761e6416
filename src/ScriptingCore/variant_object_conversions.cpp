// The converting reads whose targets are script objects, arrays and maps.

#include "variant.h"

#include "JSAPI.h"
#include "JSExceptions.h"
#include "JSObject.h"

#include <boost/numeric/conversion/converter_policies.hpp>

#include <exception>
#include <string>
#include <vector>

namespace FB {
namespace variant_detail {

JSAPIPtr heldObject(const variant& v) {
    if (v.is_of_type<JSObjectPtr>())
        return v.cast<JSObjectPtr>();
    if (v.is_of_type<JSAPIWeakPtr>())
        return v.cast<JSAPIWeakPtr>().lock();
    if (v.empty() || v.is_null())
        return JSAPIPtr();
    return v.cast<JSAPIPtr>();
}

JSAPIPtr wrappedPluginObject(const JSAPIPtr& object) {
    if (auto browserObject = std::dynamic_pointer_cast<JSObject>(object))
        return browserObject->getJSAPI();
    return JSAPIPtr();
}

namespace {

// The browser object behind a container conversion. Undefined and null are no container
// at all: refusing them is clearer to a caller than inventing an empty one.
template <typename Target>
JSObjectPtr sourceObject(const variant& v) {
    if (!v.can_be_type<JSObjectPtr>())
        throw bad_variant_cast(v.get_type(), typeid(JSObjectPtr));
    JSObjectPtr object = v.convert_cast<JSObjectPtr>();
    if (!object)
        throw bad_variant_cast(v.get_type(), typeid(Target));
    return object;
}

invalid_arguments lengthOutOfRange(const variant& length) {
    std::string shown;
    try {
        shown = length.convert_cast<std::string>();
    } catch (const std::exception&) {
        shown = "?";
    }
    return invalid_arguments("Array length " + shown + " is out of range (0 to " +
                             std::to_string(kMaxScriptArrayLength) + ")");
}

// The array's "length" by the integer rule, checked against the bound before anything
// else is read. A length that is no number at all fails as the integer rule says.
long arrayLength(const JSObjectPtr& array) {
    const variant length = array->GetProperty("length");
    long count = 0;
    try {
        count = length.convert_cast<long>();
    } catch (const boost::numeric::bad_numeric_cast&) {
        throw lengthOutOfRange(length);
    }
    if (count < 0 || count > kMaxScriptArrayLength)
        throw lengthOutOfRange(length);
    return count;
}

// A script array: "length", then the indexed properties in order. The first element the
// browser cannot read ends the conversion with the browser's error.
template <typename Target, typename Append>
Target readArray(const variant& v, Append append) {
    JSObjectPtr array = sourceObject<Target>(v);
    const long length = arrayLength(array);
    Target out;
    for (long i = 0; i < length; ++i)
        append(out, array->GetProperty(static_cast<int>(i)));
    return out;
}

} // namespace

VariantList converter<VariantList>::convert(const variant& v) {
    if (v.is_of_type<VariantList>())
        return v.cast<VariantList>();
    return readArray<VariantList>(v, [](VariantList& out, variant item) {
        out.push_back(std::move(item));
    });
}

JSObjectList converter<JSObjectList>::convert(const variant& v) {
    if (v.is_of_type<JSObjectList>())
        return v.cast<JSObjectList>();
    return readArray<JSObjectList>(v, [](JSObjectList& out, const variant& item) {
        out.push_back(item.convert_cast<JSObjectPtr>());
    });
}

VariantMap converter<VariantMap>::convert(const variant& v) {
    if (v.is_of_type<VariantMap>())
        return v.cast<VariantMap>();
    JSObjectPtr object = sourceObject<VariantMap>(v);
    std::vector<std::string> names;
    object->getMemberNames(names);
    VariantMap out;
    for (const std::string& name : names)
        out[name] = object->GetProperty(name);
    return out;
}

} // namespace variant_detail
} // namespace FB
