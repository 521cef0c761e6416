#include "OriginGate.h"

#include <algorithm>
#include <cctype>

namespace FB { namespace Consent {

namespace {

bool isHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isDigits(const std::string& text, std::size_t most) {
    if (text.empty() || text.size() > most)
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
    return rest.empty() || (rest[0] == ':' && isDigits(rest.substr(1), 5));
}

// Four decimal numbers 0-255, the first 127: a name such as "127.evil.example" or
// "127.0.0.1.nip.io" is somebody's DNS name, not this computer.
bool isIpv4Loopback(const std::string& host) {
    int parts = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = host.find('.', start);
        const std::string part = host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!isDigits(part, 3) || std::stoi(part) > 255 || (parts == 0 && part != "127"))
            return false;
        ++parts;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return parts == 4;
}

bool isLoopbackHost(const std::string& host) {
    return host == "localhost" || host == "[::1]" || isIpv4Loopback(host);
}

std::string refusedMessage(const std::string& origin) {
    return "The page origin " + origin + " is not allowed to use the token";
}

std::string insecureMessage(const std::string& origin) {
    return "The page origin \"" + origin +
           "\" is not a secure origin: the token is offered only to https pages and to http pages of this "
           "computer (localhost)";
}

} // namespace

constexpr std::chrono::seconds OriginGate::kHoldBack;

bool isSecureOrigin(const std::string& origin) {
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

OriginGate::OriginGate(AllowedOrigins& list, Prompt prompt, Clock now)
    : m_list(list), m_prompt(std::move(prompt)),
      m_now(now ? std::move(now) : Clock([] { return std::chrono::system_clock::now(); })) {}

// The remembered answer: `known` tells whether there is one; the text is the refusal, or
// empty for an allowed origin. The administrator's list answers first.
std::string OriginGate::answered(const std::string& origin, bool& known) {
    const auto inList = [&origin, &known](const AllowedOrigins& list) {
        known = list.answerFor(origin) != AllowedOrigins::Answer::Unknown;
        return list.answerFor(origin) == AllowedOrigins::Answer::Denied ? refusedMessage(origin) : std::string();
    };
    if (m_machine) {
        m_machine->load();
        std::string refusal = inList(*m_machine);
        if (known)
            return refusal;
    }
    known = true;
    if (!m_list.load())
        return "The allowed-origins file " + m_list.path() + " cannot be read (" + m_list.loadError() +
               "): no page may use the token until it can be read";
    return inList(m_list);
}

bool OriginGate::allowedWithoutAsking(const std::string& origin) {
    if (!isSecureOrigin(origin))
        return false;
    bool known = false;
    const std::string refusal = answered(origin, known);
    return known && refusal.empty();
}

OriginGate::Standing OriginGate::standing(const std::string& origin, std::string& refusal) {
    refusal.clear();
    if (!isSecureOrigin(origin)) {
        refusal = insecureMessage(origin);
        return Standing::Refused;
    }
    bool known = false;
    refusal = answered(origin, known);
    if (!known)
        return Standing::NotAsked;
    return refusal.empty() ? Standing::Allowed : Standing::Refused;
}

std::string OriginGate::check(const std::string& origin) {
    if (!isSecureOrigin(origin))
        return insecureMessage(origin);
    bool known = false;
    std::string refusal = answered(origin, known);
    if (known)
        return refusal;

    std::lock_guard<std::mutex> prompting(m_prompting);
    const AllowedOrigins::Lock lock = m_list.lock();
    if (lock.held()) {
        // Another process may have asked while this one waited for the lock.
        refusal = answered(origin, known);
        if (known)
            return refusal;
    }
    const AllowedOrigins::TimePoint now = m_now();
    AllowedOrigins::TimePoint heldBack = m_heldBack[origin];
    if (lock.held())
        heldBack = std::max(heldBack, m_list.heldBackUntilLocked(lock, origin));
    if (now < heldBack) {
        const auto seconds =
            (std::chrono::duration_cast<std::chrono::milliseconds>(heldBack - now).count() + 999) / 1000;
        return refusedMessage(origin) +
               " for now: its permission prompt was dismissed or could not be shown; it is not shown again for " +
               std::to_string(seconds) + " s";
    }

    const PromptAnswer answer = m_prompt ? m_prompt(origin) : PromptAnswer::NoAnswer;
    switch (answer) {
    case PromptAnswer::Allow:
    case PromptAnswer::Deny:
        // An answer that cannot be written still holds for this request.
        if (lock.held())
            m_list.rememberLocked(lock, origin, answer == PromptAnswer::Allow);
        return answer == PromptAnswer::Allow ? std::string() : refusedMessage(origin);
    case PromptAnswer::Dismissed:
    case PromptAnswer::NoAnswer:
        break;
    }
    m_heldBack[origin] = now + kHoldBack;
    if (lock.held())
        m_list.holdBackLocked(lock, origin, now + kHoldBack);
    return refusedMessage(origin) + (answer == PromptAnswer::Dismissed
                                         ? ": the permission prompt was dismissed"
                                         : ": the permission prompt could not be shown");
}

}} // namespace FB::Consent
