#pragma once
// Conversions wherever wide and narrow (UTF-8) strings meet. Wide text is UTF-16 on
// Windows and UTF-32 on Linux. Text the platform rejects raises text_conversion_error (a
// std::runtime_error) naming the failing step; nothing is converted silently into
// garbage.

#include <stdexcept>
#include <string>

namespace FB {

// Text that has no form in the other encoding (a lone surrogate, a value past U+10FFFF,
// malformed UTF-8) or that the platform refuses. Its own type lets the scripting layer
// tell a page's unconvertible text from other runtime errors.
class text_conversion_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string wstring_to_utf8(const std::wstring& src);
std::wstring utf8_to_wstring(const std::string& src);
std::wstring wstring_tolower(const std::wstring& src);

} // namespace FB
