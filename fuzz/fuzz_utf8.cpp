// UTF-8 and wide text conversions, fed any bytes: no overrun, invalid text refused with
// text_conversion_error and nothing else, and valid text round-trips exactly both ways (up
// to its first zero, where text ends as it does on Windows).

#include "utf8_tools.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        const std::wstring wide = FB::utf8_to_wstring(bytes);
        if (FB::wstring_to_utf8(wide) != bytes.substr(0, bytes.find('\0')))
            std::abort();
        (void)FB::wstring_tolower(wide);
    } catch (const FB::text_conversion_error&) {
    }

    // The same bytes read as wide characters (lone surrogates, values past U+10FFFF).
    std::wstring units;
    for (std::size_t i = 0; i + sizeof(std::uint32_t) <= size; i += sizeof(std::uint32_t)) {
        std::uint32_t unit = 0;
        for (std::size_t k = 0; k < sizeof unit; ++k)
            unit |= static_cast<std::uint32_t>(data[i + k]) << (8 * k);
        units.push_back(static_cast<wchar_t>(unit & 0x7FFFFFFF));
    }
    try {
        const std::string narrow = FB::wstring_to_utf8(units);
        if (FB::utf8_to_wstring(narrow) != units.substr(0, units.find(L'\0')))
            std::abort();
    } catch (const FB::text_conversion_error&) {
    }
    return 0;
}
