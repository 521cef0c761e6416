// variant conversions between every held type the framework passes around: a failed
// conversion raises bad_variant_cast or a numeric overflow error (both bad_cast), or
// text_conversion_error for text that is not UTF-8, and nothing else; a successful one gives the same answer twice and leaves the source as it was.

#include "FuzzInput.h"
#include "utf8_tools.h"
#include "variant_conversions.h"

#include <cstdlib>
#include <type_traits>
#include <typeinfo>

namespace {

template <typename T> void tryConvert(const FB::variant& v) {
    const FB::variant before = v;
    try {
        const T first = v.convert_cast<T>();
        const T second = v.convert_cast<T>();
        // The rules are functions of the held value alone.
        if constexpr (std::is_same<T, FB::VariantList>::value || std::is_same<T, FB::VariantMap>::value) {
            if (first.size() != second.size())
                std::abort();
        } else if (!(first == second)) {
            std::abort();
        }
    } catch (const std::bad_cast&) {
    } catch (const FB::text_conversion_error&) {  // a narrow text that is not UTF-8, to wide
    }
    if (before.get_type() != v.get_type())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orv::fuzz::FuzzInput in(data, size);
    while (!in.empty()) {
        const FB::variant v = in.value();
        tryConvert<long>(v);
        tryConvert<bool>(v);
        tryConvert<std::string>(v);
        tryConvert<std::wstring>(v);
        tryConvert<FB::VariantList>(v);
        tryConvert<FB::VariantMap>(v);
        (void)v.is_of_type<std::string>();
        FB::variant copy = v;
        copy = FB::variant(copy);
        (void)(copy < v);
    }
    return 0;
}
