#pragma once
// Which pages may reach the token. Every request names the page's origin (the browser tells
// the extension; the page cannot choose it). An origin that is not a secure one is refused
// outright; a secure origin the person has not been asked about yet is put to the person
// once, and the answer is remembered in the allowed-origins file.

#include "AllowedOrigins.h"

#include <functional>
#include <string>

namespace FB { namespace NativeMessaging {

enum class PromptAnswer { Allow, Deny, NoAnswer };

// https with a host; http only on a loopback host (localhost, 127.x.x.x, [::1]); file://.
// Lower-case scheme and host, an optional port, no path: the form browsers serialise
// origins in. Anything else is refused, so no odd text ever reaches the prompt.
bool isSecureOrigin(const std::string& origin);

class OriginGate {
public:
    // Asks the person whether the origin may use the token; NoAnswer when no prompt could
    // be shown (that is not remembered).
    using Prompt = std::function<PromptAnswer(const std::string& origin)>;

    OriginGate(AllowedOrigins& list, Prompt prompt) : m_list(list), m_prompt(std::move(prompt)) {}

    // Empty when the origin may go on; otherwise the message the page gets.
    std::string check(const std::string& origin);

private:
    AllowedOrigins& m_list;
    Prompt m_prompt;
};

}} // namespace FB::NativeMessaging
