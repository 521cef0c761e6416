#include "Pinentry.h"

#include "pin/PinEntry.h"

namespace orv {

bool showBuiltInPinEntry() {
    PinentryConversation pinentry;
    return pinentry.start() && askPinOver(pinentry);
}

bool askPinOver(PinentryConversation& pinentry) {
    // The same texts as the Windows dialog: caption, label and the two buttons.
    pinentry.command("SETTITLE", kPinCaption);
    pinentry.command("SETPROMPT", kPinLabel);
    if (!pinRequestOrigin().empty())
        pinentry.command("SETDESC", pinOriginText());
    pinentry.command("SETOK", kPinOkText);
    pinentry.command("SETCANCEL", kPinCancelText);
    // Like the dialog's field read: at most 31 bytes and a terminating zero.
    std::size_t length = 0;
    if (pinentry.command("GETPIN", std::string(), pinText, kPinTextSize - 1, &length) !=
        PinentryConversation::Reply::Ok)
        return false;
    pinText[length] = '\0';
    pinLength = static_cast<std::int32_t>(length);
    return true;
}

} // namespace orv
