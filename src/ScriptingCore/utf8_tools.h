#pragma once
// Conversions wherever wide and narrow (UTF-8) strings meet. Wide text is UTF-16 on
// Windows and UTF-32 on Linux. Text the platform rejects raises std::runtime_error naming
// the failing step; nothing is converted silently into garbage.

#include <string>

namespace FB {

std::string wstring_to_utf8(const std::wstring& src);
std::wstring utf8_to_wstring(const std::string& src);
std::wstring wstring_tolower(const std::wstring& src);

} // namespace FB
