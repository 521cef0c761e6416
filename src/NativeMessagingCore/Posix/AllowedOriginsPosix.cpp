#include "AllowedOrigins.h"

#include <cstdlib>

namespace FB { namespace NativeMessaging {

std::string defaultAllowedOriginsPath() {
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        base = config;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        return std::string();
    return base + "/orvanta/allowed-origins";
}

}} // namespace FB::NativeMessaging
