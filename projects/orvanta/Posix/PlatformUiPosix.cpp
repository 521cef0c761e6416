#include "PlatformUi.h"

#include "Pinentry.h"
#include "pin/PinEntry.h"

#include <cstdio>

namespace orv {

// The pinentry program's message command is the box: text, caption, one OK button; it
// returns when the user closes it. Without a pinentry that can show it, the text goes to
// standard error so it is not lost.
void platformMessageBox(const std::string& text, const std::string& caption) {
    PinentryConversation pinentry;
    if (pinentry.start()) {
        pinentry.command("SETTITLE", caption);
        pinentry.command("SETDESC", text);
        pinentry.command("SETOK", kPinOkText);
        // A pinentry that cannot show it (no terminal, no display) answers ERR.
        if (pinentry.command("MESSAGE") == PinentryConversation::Reply::Ok)
            return;
    }
    std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
}

} // namespace orv
