// Conversions between UTF-8 and the UTF-32 wide strings of Linux. Malformed input is
// refused with text_conversion_error instead of being mapped to replacement characters.

#include "utf8_tools.h"

#include <cwctype>
#include <locale.h>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace FB {

namespace {

using WideUnit = std::make_unsigned_t<wchar_t>;

bool isSurrogate(unsigned long cp) {
    return cp >= 0xD800 && cp <= 0xDFFF;
}

bool isScalarValue(unsigned long cp) {
    return cp <= 0x10FFFF && !isSurrogate(cp);
}

std::string hexOf(unsigned long value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value);
    return out;
}

// A code point as U+ and at least four hex digits.
std::string codePointText(unsigned long cp) {
    std::string hex = hexOf(cp);
    if (hex.size() < 4)
        hex.insert(0, 4 - hex.size(), '0');
    return "U+" + hex;
}

void appendUtf8(std::string& out, unsigned long cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Like the Windows conversion, text ends at its first zero.
template <typename Str>
size_t lengthToZero(const Str& s) {
    const size_t zero = s.find(typename Str::value_type(0));
    return zero == Str::npos ? s.size() : zero;
}

locale_t utf8Locale() {
    static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return loc;
}

} // namespace

std::string wstring_to_utf8(const std::wstring& src) {
    std::string out;
    const size_t length = lengthToZero(src);
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        // The unit at wchar_t's own width: a negative wchar_t is shown as the 32 bits the
        // page sent, not sign-extended.
        const unsigned long cp = static_cast<WideUnit>(src[i]);
        if (!isScalarValue(cp))
            throw text_conversion_error(std::string("wstring_to_utf8: ") +
                                        (isSurrogate(cp) ? "lone surrogate " : "invalid code point ") +
                                        codePointText(cp) + " at position " + std::to_string(i));
        appendUtf8(out, cp);
    }
    return out;
}

std::wstring utf8_to_wstring(const std::string& src) {
    std::wstring out;
    const size_t length = lengthToZero(src);
    size_t i = 0;
    while (i < length) {
        const unsigned char lead = static_cast<unsigned char>(src[i]);
        size_t extra;
        unsigned long cp;
        unsigned long minimum;
        if (lead < 0x80) {
            extra = 0, cp = lead, minimum = 0;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, cp = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, cp = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, cp = lead & 0x07, minimum = 0x10000;
        } else {
            throw text_conversion_error("utf8_to_wstring: invalid UTF-8 at byte " + std::to_string(i));
        }
        if (i + extra >= length)
            throw text_conversion_error("utf8_to_wstring: truncated UTF-8 at byte " + std::to_string(i));
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(src[i + k]);
            if ((next & 0xC0) != 0x80)
                throw text_conversion_error("utf8_to_wstring: invalid UTF-8 at byte " +
                                         std::to_string(i + k));
            cp = (cp << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not text.
        if (cp < minimum || !isScalarValue(cp))
            throw text_conversion_error("utf8_to_wstring: invalid UTF-8 at byte " + std::to_string(i));
        out += static_cast<wchar_t>(cp);
        i += extra + 1;
    }
    return out;
}

std::wstring wstring_tolower(const std::wstring& src) {
    if (src.empty())
        return std::wstring();
    const locale_t loc = utf8Locale();
    if (loc == static_cast<locale_t>(0))
        throw text_conversion_error("wstring_tolower: the C.UTF-8 locale is not available");
    std::wstring out(src);
    for (wchar_t& c : out)
        c = static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc));
    return out;
}

} // namespace FB
