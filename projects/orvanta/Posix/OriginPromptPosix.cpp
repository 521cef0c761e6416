#include "pin/OriginPrompt.h"

#include "Pinentry.h"

namespace orv {

namespace {
// gpg-error codes (low 16 bits) of a pinentry whose person said no.
constexpr unsigned long kCanceled = 99;
constexpr unsigned long kNotConfirmed = 114;
} // namespace

OriginAnswer askOriginPermission(const std::string& origin) {
    PinentryConversation pinentry;
    if (!pinentry.start())
        return OriginAnswer::NoAnswer;
    return askOriginOver(pinentry, origin);
}

OriginAnswer askOriginOver(PinentryConversation& pinentry, const std::string& origin) {
    pinentry.command("SETTITLE", kOriginPromptCaption);
    pinentry.command("SETDESC", originPromptText(origin));
    pinentry.command("SETOK", kOriginAllowText);
    pinentry.command("SETCANCEL", kOriginDenyText);
    switch (pinentry.command("CONFIRM")) {
    case PinentryConversation::Reply::Ok:
        return OriginAnswer::Allow;
    case PinentryConversation::Reply::Error: {
        // A pinentry that cannot show anything (no terminal, no display) answers ERR too;
        // only the person's own no counts as a no.
        const unsigned long code = pinentry.errorCode() & 0xFFFF;
        return code == kCanceled || code == kNotConfirmed ? OriginAnswer::Deny : OriginAnswer::NoAnswer;
    }
    case PinentryConversation::Reply::Broken:
        break;
    }
    return OriginAnswer::NoAnswer;
}

} // namespace orv
