#include "OriginGate.h"

#include <cctype>

namespace FB { namespace NativeMessaging {

namespace {

bool isHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isDigits(const std::string& text) {
    if (text.empty() || text.size() > 5)
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// host[:port] with a DNS name or IPv4 host, or [IPv6][:port]; `host` gets the host part.
bool splitAuthority(const std::string& authority, std::string& host) {
    std::string rest;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos || close == 1)
            return false;
        host = authority.substr(0, close + 1);
        for (std::size_t i = 1; i < close; ++i) {
            const char c = host[i];
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.')
                return false;
            if (c >= 'A' && c <= 'F')
                return false;
        }
        rest = authority.substr(close + 1);
    } else {
        const std::size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (host.empty())
            return false;
        for (char c : host)
            if (!isHostCharacter(c))
                return false;
        if (colon != std::string::npos)
            rest = authority.substr(colon);
    }
    return rest.empty() || (rest[0] == ':' && isDigits(rest.substr(1)));
}

bool isLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "[::1]" || host.compare(0, 4, "127.") == 0;
}

} // namespace

bool isSecureOrigin(const std::string& origin) {
    if (origin == "file://")
        return true;
    const std::size_t separator = origin.find("://");
    if (separator == std::string::npos)
        return false;
    const std::string scheme = origin.substr(0, separator);
    std::string host;
    if (!splitAuthority(origin.substr(separator + 3), host))
        return false;
    if (scheme == "https")
        return true;
    return scheme == "http" && isLoopbackHost(host);
}

std::string OriginGate::check(const std::string& origin) {
    if (!isSecureOrigin(origin))
        return "The page origin \"" + origin +
               "\" is not a secure origin: the token is offered only to https pages";
    m_list.load();
    switch (m_list.answerFor(origin)) {
    case AllowedOrigins::Answer::Allowed:
        return std::string();
    case AllowedOrigins::Answer::Denied:
        return "The page origin " + origin + " is not allowed to use the token";
    case AllowedOrigins::Answer::Unknown:
        break;
    }
    const PromptAnswer answer = m_prompt ? m_prompt(origin) : PromptAnswer::NoAnswer;
    if (answer == PromptAnswer::NoAnswer)
        return "The page origin " + origin +
               " is not allowed to use the token: the permission prompt could not be shown";
    // An answer that cannot be written still holds for this request.
    m_list.remember(origin, answer == PromptAnswer::Allow);
    if (answer == PromptAnswer::Deny)
        return "The page origin " + origin + " is not allowed to use the token";
    return std::string();
}

}} // namespace FB::NativeMessaging
