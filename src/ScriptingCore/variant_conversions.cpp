// The converting reads of scalar and text targets. Each rule checks the held type
// exactly; the first match decides.

#include "variant.h"

#include "utf8_tools.h"

#include <boost/numeric/conversion/converter_policies.hpp>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>

namespace FB {
namespace variant_detail {

namespace {

constexpr long long kLongMin = std::numeric_limits<std::int32_t>::min();
constexpr long long kLongMax = std::numeric_limits<std::int32_t>::max();

// Calls f(value) with the held value when the variant holds one of Ts; false otherwise.
template <typename... Ts, typename F>
bool visitAny(const variant& v, F&& f) {
    return ((v.is_of_type<Ts>() ? (f(v.cast<Ts>()), true) : false) || ...);
}

template <typename F>
bool visitIntegers(const variant& v, F&& f) {
    return visitAny<long, char, unsigned char, short, unsigned short, int, unsigned int,
                    unsigned long, long long, unsigned long long>(v, std::forward<F>(f));
}

// Integers are checked against the 32-bit range whatever width the held type has: on
// 64-bit Linux a long is itself 64 bits wide and gets the 64-bit rule.
template <typename I>
long checkedLong(I value) {
    if constexpr (std::is_signed<I>::value) {
        if (static_cast<long long>(value) < kLongMin)
            throw boost::numeric::negative_overflow();
        if (static_cast<long long>(value) > kLongMax)
            throw boost::numeric::positive_overflow();
    } else {
        if (static_cast<unsigned long long>(value) > static_cast<unsigned long long>(kLongMax))
            throw boost::numeric::positive_overflow();
    }
    return static_cast<long>(value);
}

long floatingToLong(const variant& v, double x) {
    if (std::isnan(x))
        throw bad_variant_cast(v.get_type(), typeid(long));  // no number to truncate
    if (x <= -2147483649.0)
        throw boost::numeric::negative_overflow();
    if (x >= 2147483648.0)
        throw boost::numeric::positive_overflow();
    return static_cast<long>(std::trunc(x));
}

// Leading blanks, a sign and decimal digits; the rest of the text is ignored. No digits,
// or a number outside 32 bits, is a failed read.
template <typename Char>
long parseLong(const variant& v, const std::basic_string<Char>& text) {
    std::basic_istringstream<Char> in(text);
    long long value = 0;
    in >> value;
    if (in.fail() || value < kLongMin || value > kLongMax)
        throw bad_variant_cast(v.get_type(), typeid(long));
    return static_cast<long>(value);
}

bool isTrueWord(const std::string& lowered) {
    return lowered == "y" || lowered == "1" || lowered == "yes" || lowered == "true" ||
           lowered == "t";
}

template <typename Stream, typename T>
auto writeNumber(const variant& v, const T& value, const std::type_info& target) {
    Stream out;
    out << value;
    if (out.fail())
        throw bad_variant_cast(v.get_type(), target);
    return out.str();
}

} // namespace

long converter<long>::convert(const variant& v) {
    long result = 0;
    if (visitIntegers(v, [&](auto value) { result = checkedLong(value); }))
        return result;
    if (v.is_of_type<double>())
        return floatingToLong(v, v.cast<double>());
    if (v.is_of_type<float>())
        return floatingToLong(v, v.cast<float>());
    if (v.is_of_type<bool>())
        return v.cast<bool>() ? 1 : 0;
    if (v.is_of_type<std::string>())
        return parseLong(v, v.cast<std::string>());
    if (v.is_of_type<std::wstring>())
        return parseLong(v, v.cast<std::wstring>());
    throw bad_variant_cast(v.get_type(), typeid(long));
}

bool converter<bool>::convert(const variant& v) {
    if (v.is_of_type<bool>())
        return v.cast<bool>();
    if (v.is_of_type<std::string>()) {
        std::string lowered = v.cast<std::string>();
        for (char& c : lowered)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return isTrueWord(lowered);
    }
    if (v.is_of_type<std::wstring>()) {
        // Only ASCII letters can spell one of the words; anything else never matches.
        std::string lowered;
        for (wchar_t c : v.cast<std::wstring>()) {
            if (static_cast<unsigned long>(c) > 0x7F)
                return false;
            lowered += static_cast<char>(std::tolower(static_cast<int>(c)));
        }
        return isTrueWord(lowered);
    }
    return converter<long>::convert(v) != 0;
}

std::string converter<std::string>::convert(const variant& v) {
    if (v.is_of_type<std::string>())
        return v.cast<std::string>();
    if (v.is_of_type<char>())
        return std::string(1, v.cast<char>());
    if (v.is_of_type<unsigned char>())
        return std::string(1, static_cast<char>(v.cast<unsigned char>()));
    std::string result;
    const std::type_info& target = typeid(std::string);
    if (visitAny<double, float, int, unsigned int, long, unsigned long, short, unsigned short,
                 long long, unsigned long long>(
            v, [&](auto value) { result = writeNumber<std::ostringstream>(v, value, target); }))
        return result;
    if (v.is_of_type<bool>())
        return v.cast<bool>() ? "true" : "false";
    if (v.is_of_type<std::wstring>())
        return wstring_to_utf8(v.cast<std::wstring>());
    throw bad_variant_cast(v.get_type(), target);
}

std::wstring converter<std::wstring>::convert(const variant& v) {
    if (v.is_of_type<std::wstring>())
        return v.cast<std::wstring>();
    std::wstring result;
    const std::type_info& target = typeid(std::wstring);
    if (visitAny<double, float, int, unsigned int, long, unsigned long, short, unsigned short>(
            v, [&](auto value) { result = writeNumber<std::wostringstream>(v, value, target); }))
        return result;
    if (v.is_of_type<char>())
        return std::wstring(1, static_cast<wchar_t>(static_cast<unsigned char>(v.cast<char>())));
    if (v.is_of_type<unsigned char>())
        return writeNumber<std::wostringstream>(v, static_cast<unsigned>(v.cast<unsigned char>()),
                                                target);
    if (v.is_of_type<bool>())
        return v.cast<bool>() ? L"true" : L"false";
    if (v.is_of_type<std::string>())
        return utf8_to_wstring(v.cast<std::string>());
    throw bad_variant_cast(v.get_type(), target);
}

} // namespace variant_detail
} // namespace FB
