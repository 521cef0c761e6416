#include "pin/OriginPrompt.h"

#include "Pinentry.h"

namespace orv {

namespace {
// gpg-error codes (low 16 bits) of CONFIRM: the Cancel button (or Escape, or the window
// closed) and the "not OK" button.
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
    // OK is the button Enter presses in every pinentry, so OK denies and allowing takes the
    // other button ("not OK"): a stray Enter never hands the token to a site. Cancel (and
    // Escape, and closing the window) says nothing; the gate holds the site back a while.
    pinentry.command("SETTITLE", kOriginPromptCaption);
    pinentry.command("SETDESC", originPromptText(origin));
    pinentry.command("SETOK", kOriginDenyText);
    // A pinentry that cannot show the allow button cannot ask this question.
    if (pinentry.command("SETNOTOK", kOriginAllowText) != PinentryConversation::Reply::Ok)
        return OriginAnswer::NoAnswer;
    pinentry.command("SETCANCEL", kOriginLaterText);
    switch (pinentry.command("CONFIRM")) {
    case PinentryConversation::Reply::Ok:
        return OriginAnswer::Deny;
    case PinentryConversation::Reply::Error: {
        // A pinentry that cannot show anything (no terminal, no display) answers ERR too.
        const unsigned long code = pinentry.errorCode() & 0xFFFF;
        if (code == kNotConfirmed)
            return OriginAnswer::Allow;
        return code == kCanceled ? OriginAnswer::Dismissed : OriginAnswer::NoAnswer;
    }
    case PinentryConversation::Reply::Broken:
        break;
    }
    return OriginAnswer::NoAnswer;
}

} // namespace orv
