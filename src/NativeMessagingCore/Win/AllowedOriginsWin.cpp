#include "AllowedOrigins.h"

#include "utf8_tools.h"

#include <windows.h>

namespace FB { namespace NativeMessaging {

std::string defaultAllowedOriginsPath() {
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableW(L"APPDATA", folder, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        return std::string();
    return wstring_to_utf8(std::wstring(folder, length)) + "\\orvanta\\allowed-origins";
}

}} // namespace FB::NativeMessaging
