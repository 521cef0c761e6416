// Conversions through the Win32 code-page and locale services.

#include "utf8_tools.h"

#include <windows.h>

#include <stdexcept>
#include <vector>

namespace FB {

namespace {

text_conversion_error platformError(const char* step) {
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = std::string(step) + ": ";
    if (length > 0 && text)
        message.append(text, length);
    if (text)
        LocalFree(text);
    return text_conversion_error(message);
}

} // namespace

std::string wstring_to_utf8(const std::wstring& src) {
    // The terminating zero is converted with the text and dropped afterwards.
    const int size = WideCharToMultiByte(CP_UTF8, 0, src.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        throw platformError("WideCharToMultiByte");
    std::vector<char> out(static_cast<size_t>(size));
    if (WideCharToMultiByte(CP_UTF8, 0, src.c_str(), -1, out.data(), size, nullptr, nullptr) <= 0)
        throw platformError("WideCharToMultiByte");
    return std::string(out.data(), static_cast<size_t>(size) - 1);
}

std::wstring utf8_to_wstring(const std::string& src) {
    if (src.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, src.c_str(), -1, nullptr, 0);
    if (size <= 0)
        throw platformError("MultiByteToWideChar");
    std::vector<wchar_t> out(static_cast<size_t>(size));
    if (MultiByteToWideChar(CP_UTF8, 0, src.c_str(), -1, out.data(), size) <= 0)
        throw platformError("MultiByteToWideChar");
    return std::wstring(out.data(), static_cast<size_t>(size) - 1);
}

std::wstring wstring_tolower(const std::wstring& src) {
    if (src.empty())
        return std::wstring();
    const int length = static_cast<int>(src.size());
    const int size = LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, src.c_str(), length, nullptr, 0);
    if (size <= 0)
        throw platformError("wstring_tolower");
    std::vector<wchar_t> out(static_cast<size_t>(size));
    if (LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, src.c_str(), length, out.data(), size) <= 0)
        throw platformError("wstring_tolower");
    return std::wstring(out.data(), static_cast<size_t>(size));
}

} // namespace FB
