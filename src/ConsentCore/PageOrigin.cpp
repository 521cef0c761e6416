#include "PageOrigin.h"

#include <cctype>

namespace FB { namespace Consent {

namespace {

std::string lowerCase(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::string originFromUrl(const std::string& url) {
    const std::size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0)
        return "null";
    const std::string scheme = lowerCase(url.substr(0, colon));
    if (scheme == "file")
        return "file://";
    if (scheme != "http" && scheme != "https")
        return "null";
    if (url.compare(colon + 1, 2, "//") != 0)
        return "null";
    const std::size_t start = colon + 3;
    const std::size_t end = url.find_first_of("/?#\\", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);
    std::string host = authority;
    std::string port;
    const std::size_t portColon = authority.rfind(':');
    const std::size_t bracket = authority.rfind(']');
    if (portColon != std::string::npos && (bracket == std::string::npos || portColon > bracket)) {
        host = authority.substr(0, portColon);
        port = authority.substr(portColon + 1);
    }
    if (host.empty())
        return "null";
    for (char c : port)
        if (c < '0' || c > '9')
            return "null";
    // Leading zeros do not make another port.
    const std::size_t firstDigit = port.find_first_not_of('0');
    port = firstDigit == std::string::npos ? (port.empty() ? port : std::string("0")) : port.substr(firstDigit);
    if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443"))
        port.clear();
    std::string origin = scheme + "://" + lowerCase(host);
    if (!port.empty())
        origin += ":" + port;
    return origin;
}

}} // namespace FB::Consent
